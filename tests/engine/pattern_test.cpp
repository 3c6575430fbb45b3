#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/pattern.h"
#include "tests/support/tree.h"

namespace sweepkin {
namespace {

using namespace hardening;

struct MatchCase {
    const char* component;
    std::string name;
    bool expected;
};

TEST(WildcardMatch, ComponentAgainstEntryName) {
    const MatchCase cases[] = {
        // The documented table.
        {"*", ".hidden", true},
        {"Prof*", "Profile 1", true},
        {"*Cache", "GPUCache", true},
        {"Cache", "cache", false},
        {"a**b", "ab", true},
        {"*x*", "abc", false},
        // Literal components compare exactly; other glob characters are plain text.
        {"Cache", "Cache", true},
        {"Cache", "Cache ", false},
        {"?", "a", false},
        {"?", "?", true},
        {"[ab]", "a", false},
        {"[ab]", "[ab]", true},
        {"a\\*", "a\\bc", true},
        // A star may stand for nothing, at either end or in the middle.
        {"Prof*", "Prof", true},
        {"*Cache", "Cache", true},
        {"a*b*c", "abc", true},
        {"a*b*c", "aXbYc", true},
        {"a*b*c", "acb", false},
        {"*", "", true},
        {"a*", "", false},
        // The head, the middle parts and the tail may not share characters.
        {"ab*ba", "aba", false},
        {"ab*ba", "abba", true},
        {"a*a", "a", false},
        {"*ab*ab", "abab", true},
        {"*ab*ab", "ab", false},
        // Byte strings: newlines and invalid UTF-8 are ordinary characters.
        {"*\n*", "line\nbreak", true},
        {"\xff*", "\xff\xfe", true},
    };
    for (const MatchCase& c : cases) {
        EXPECT_EQ(wildcardMatch(c.component, c.name), c.expected)
            << "component \"" << c.component << "\" name \"" << c.name << "\"";
    }
}

// Names of a folder's entries in the order the file system lists them.
std::vector<std::string> listingOrder(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

class ExpandPatternTest : public ::testing::Test {
  protected:
    ScratchDir tmp;
    std::string chrome = tmp / "Google/Chrome";
};

TEST_F(ExpandPatternTest, ProfileCachesComeInListingOrder) {
    for (const char* profile : {"Default", "Profile 1", "Profile 2", "Profile 3", "Guest"}) {
        makeDirs(chrome + "/" + profile + "/Cache");
    }
    makeDirs(chrome + "/NoCacheHere");
    writeFile(chrome + "/Local State", 10);

    std::vector<std::string> expected;
    for (const std::string& name : listingOrder(chrome)) {
        if (name != "NoCacheHere" && name != "Local State") {
            expected.push_back(chrome + "/" + name + "/Cache");
        }
    }
    ASSERT_EQ(expected.size(), 5u);
    EXPECT_EQ(expandPattern(chrome + "/*/Cache"), expected);
}

TEST_F(ExpandPatternTest, LiteralPatternIsReturnedAsWritten) {
    writeFile(tmp / "cache.db", 5);
    makeDirs(tmp / "Cache");
    EXPECT_EQ(expandPattern(tmp / "cache.db"), std::vector<std::string>{tmp / "cache.db"});
    EXPECT_EQ(expandPattern(tmp / "Cache/"), std::vector<std::string>{tmp / "Cache/"});
    ASSERT_EQ(::symlink((tmp / "nowhere").c_str(), (tmp / "dangling").c_str()), 0);
    EXPECT_TRUE(expandPattern(tmp / "dangling").empty());
}

TEST_F(ExpandPatternTest, WildcardResultsCarryNoTrailingOrDoubledSlash) {
    makeDirs(chrome + "/Default/Cache");
    const std::string doubled = tmp.path() + "//Google//Chrome/*/Cache/";
    EXPECT_EQ(expandPattern(doubled), std::vector<std::string>{chrome + "/Default/Cache"});
}

TEST_F(ExpandPatternTest, TrailingStarListsHiddenEntriesAndEveryKind) {
    makeDirs(tmp / "c/.hidden");
    writeFile(tmp / "c/file", 1);
    ASSERT_EQ(::symlink("/nonexistent", (tmp / "c/dangling").c_str()), 0);
    std::vector<std::string> got = expandPattern(tmp / "c/*");
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got,
              (std::vector<std::string>{tmp / "c/.hidden", tmp / "c/dangling", tmp / "c/file"}));
}

TEST_F(ExpandPatternTest, MissingFolderOrWildcardBelowAFileGivesNothing) {
    writeFile(tmp / "plain", 1);
    for (const std::string& pattern :
         {tmp / "plain/*", tmp / "missing/*", chrome + "/*/Cache", chrome + "/Default/Cache"}) {
        EXPECT_TRUE(expandPattern(pattern).empty()) << pattern;
    }
}

TEST_F(ExpandPatternTest, OddNamesAreExpandedLikeAnyOther) {
    const std::string odd = "new\nline \xff\xfe";
    makeDirs(tmp / ("p/" + odd + "/Cache"));
    EXPECT_EQ(expandPattern(tmp / "p/*/Cache"),
              std::vector<std::string>{tmp / ("p/" + odd + "/Cache")});
}

TEST_F(ExpandPatternTest, PatternsDropDuplicatesKeepingFirstPlace) {
    makeDirs(chrome + "/Default/Cache");
    makeDirs(chrome + "/Default/GPUCache");
    const std::vector<std::string> got = expandPatterns({
        chrome + "/Default/GPUCache",
        chrome + "/*/Cache",
        chrome + "/Default/Cache",
        chrome + "/*/*Cache",
        chrome + "/*/Cache",
        chrome + "/Missing",
    });
    // "*/*Cache" yields Cache and GPUCache in listing order; only what is new gets appended.
    EXPECT_EQ(got,
              (std::vector<std::string>{chrome + "/Default/GPUCache", chrome + "/Default/Cache"}));
}

}  // namespace
}  // namespace sweepkin
