// Wildcards and patterns, the safety guard, the XDG base folders, sizes and their texts.

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <filesystem>

#include "engine/base_dirs.h"
#include "engine/pattern.h"
#include "engine/safety_guard.h"
#include "engine/sizes.h"
#include "tests/support/tree.h"

namespace sweepkin::fixtures {
namespace {

using Paths = std::vector<std::string>;

// Literal components compare exactly, other glob characters are plain text; a star may stand
// for nothing, anywhere; head, middle parts and tail may not overlap; names are byte strings.
TEST(WildcardMatch, ComponentAgainstEntryName) {
    // clang-format off
    const std::pair<const char*, std::string> matches[] = {
        {"*", ".hidden"}, {"Prof*", "Profile 1"}, {"*Cache", "GPUCache"}, {"a**b", "ab"},
        {"Cache", "Cache"}, {"?", "?"}, {"[ab]", "[ab]"}, {"a\\*", "a\\bc"}, {"Prof*", "Prof"},
        {"*Cache", "Cache"}, {"a*b*c", "abc"}, {"a*b*c", "aXbYc"}, {"*", ""}, {"ab*ba", "abba"},
        {"*ab*ab", "abab"}, {"*\n*", "line\nbreak"}, {"\xff*", "\xff\xfe"}};
    const std::pair<const char*, std::string> mismatches[] = {
        {"Cache", "cache"}, {"*x*", "abc"}, {"Cache", "Cache "}, {"?", "a"}, {"[ab]", "a"},
        {"a*b*c", "acb"}, {"a*", ""}, {"ab*ba", "aba"}, {"a*a", "a"}, {"*ab*ab", "ab"}};
    // clang-format on
    for (const auto& [glob, name] : matches) EXPECT_TRUE(wildcardMatch(glob, name)) << glob;
    for (const auto& [glob, name] : mismatches) EXPECT_FALSE(wildcardMatch(glob, name)) << glob;
}

TEST(ExpandPattern, WhatEachPatternNames) {
    ScratchDir tmp;
    const std::string g = tmp / "G";
    makeTree(tmp.path(), {"G/Default/Cache/", "G/Profile 1/Cache/", "G/Guest/Cache/",
                          "G/Default/GPUCache/", "G/NoCacheHere/", "G/Local State=10",
                          "one/Default/Cache/", "c/.hidden/", "c/file=1", "c/dangling->/none",
                          "plain=1", "Cache/", "dangling->nowhere", "p/new\nline \xff/Cache/"});
    Paths inListingOrder;  // what a wildcard yields, in the order the file system lists
    for (const auto& entry : std::filesystem::directory_iterator(g)) {
        if (exists(entry.path() / "Cache")) inListingOrder.push_back(entry.path() / "Cache");
    }
    ASSERT_EQ(inListingOrder.size(), 3u);
    EXPECT_EQ(expandPattern(g + "/*/Cache"), inListingOrder);
    // A literal comes back as written when something (not a dangling link) is there; wildcard
    // results carry no trailing or doubled slash; a trailing star lists every kind.
    // clang-format off
    const std::pair<std::string, Paths> cases[] = {
        {tmp / "plain", {tmp / "plain"}}, {tmp / "Cache/", {tmp / "Cache/"}},
        {tmp / "dangling", {}}, {tmp / "missing", {}},
        {tmp.path() + "//one//*/Cache/", {tmp / "one/Default/Cache"}},
        {tmp / "c/*", {tmp / "c/.hidden", tmp / "c/dangling", tmp / "c/file"}},
        {tmp / "plain/*", {}}, {tmp / "missing/*", {}}, {g + "/*/Missing", {}},
        {tmp / "p/*/Cache", {tmp / "p/new\nline \xff/Cache"}}};
    // clang-format on
    for (const auto& [pattern, expected] : cases) {
        Paths got = expandPattern(pattern);
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, expected) << pattern;
    }
    // Duplicates are dropped, keeping their first place.
    const Paths all = expandPatterns({g + "/Default/GPUCache", g + "/*/Cache", g + "/Default/Cache",
                                      g + "/*/*Cache", g + "/Missing"});
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(Paths(all.begin() + 1, all.end()), inListingOrder);
}

std::string expanded(const std::string& path) {  // "~" stands for /home/tester
    return path.starts_with('~') ? "/home/tester" + path.substr(1) : path;
}

// Beyond the self-test's sixteen cases (checked through the program's output): inside
// ~/Library/Caches anything goes, and a cache-named last component anywhere; dot components
// cannot leave the caches folder; its name is case-sensitive.
TEST(SafetyGuard, AllowsCachesAndRefusesDataInTheMacOSCachesFolder) {
    ::setenv("HOME", "/home/tester", 1);
    // clang-format off
    const Paths allowed = {
        "~/Library/Caches", "~/Library/Caches/", "~/Library/Caches/any/depth",
        "~/Library/Caches/Cookies", "~/Library/CachesOld", "~/Documents/MyCacheBackup",
        "/anywhere/cache.db", "/anywhere/CACHEDDATA/", "Cache", "~/Library/Caches.db",
        "~/Library/Application Support/Google/Chrome/Default/Cache/", "~/Library/Caches/../Cache"};
    const Paths refused = {
        "~/Library/CachesOld/x", "~/library/caches/x", "~/Library//Caches/x", "/", "", "~",
        "~/Library/Cach", "~/Library/Caches/../../Documents", "~/Library/Caches/..",
        "~/Library/Caches/x/../../Preferences", "~/Library/Caches/./x"};
    // clang-format on
    for (const std::string& path : allowed) EXPECT_TRUE(isSafeCachePath(expanded(path))) << path;
    for (const std::string& path : refused) EXPECT_FALSE(isSafeCachePath(expanded(path))) << path;
    EXPECT_FALSE(isSafeCachePath("~/Library/Caches/x"));  // an unexpanded tilde
    ::setenv("HOME", "/home/b/", 1);                      // read afresh on every call
    EXPECT_TRUE(isSafeCachePath("/home/b/Library/Caches/x"));
    EXPECT_FALSE(isSafeCachePath("/home/tester/Library/Caches/x") || isSafeCachePath("/home/b"));
    ::setenv("HOME", "/srv/cachehome", 1);
    EXPECT_TRUE(isSafeCachePath("/srv/cachehome"));  // by its name
}

// The XDG cache home (here /data/xdg, a name without "cache"; the default does not count when it
// is set) and one application's Flatpak and snap caches folders admit what lies strictly inside.
TEST(SafetyGuard, AdmitsOnlyPathsStrictlyInsideTheLinuxCachesFolders) {
    // clang-format off
    const Paths allowed = {
        "/data/xdg/spotify", "/data/xdg/google-chrome-beta/Default",
        "~/.var/app/com.spotify.Client/cache/spotify", "~/.var/app/com.spotify.Client/cache/",
        "~/snap/spotify/common/.cache/spotify", "~/snap/spotify/common/.cache/spotify/Data",
        "~/.config/google-chrome/Default/Service Worker/CacheStorage", "~/Library/Caches/x"};
    const Paths refused = {
        "/data/xdg", "/data/xdg//", "/data/xdgx/spotify", "/data/xdg/../secrets",
        "/data/xdg/./spotify", "~/.cache/spotify", "~/.var/app/com.spotify.Client/data/spotify",
        "~/.var/app/com.spotify.Client/cachex/s", "~/.var/app/a/b/cache/spotify",
        "~/.var/app//cache/spotify", "~/.var/app/../cache/spotify",
        "~/.var/app/x/cache/../../../Documents", "~/.var/app/cache/spotify",
        "~/snap/spotify/current/.cache/spotify", "~/snap/spotify/common/spotify",
        "~/snap/./common/.cache/spotify", "~/snap/spotify/common/.cache/../../../.ssh",
        "/other/.var/app/x/cache/spotify", "~/.config/google-chrome/Default/Cookies",
        "~/.config/Claude/claude_desktop_config.json", "~/.config/spotify", "~/.config/Code/User",
        "~/.config/Slack/storage", "~/.var/app/com.spotify.Client/config/spotify",
        "~/.config/google-chrome/Local State", "~/.mozilla/firefox/p/cache2/../cookies.sqlite"};
    // clang-format on
    for (const std::string& path : allowed) {
        EXPECT_TRUE(isSafeCachePath(expanded(path), "/home/tester", "/data/xdg")) << path;
    }
    for (const std::string& path : refused) {
        EXPECT_FALSE(isSafeCachePath(expanded(path), "/home/tester", "/data/xdg")) << path;
    }
}

// Unset, empty, relative, the root, the home folder or above it, or with dot components: the
// default; otherwise the value with single slashes and no trailing one.
TEST(BaseDirs, UnusableValuesFallBackToTheDefaults) {
    // clang-format off
    const std::optional<std::string> unusable[] = {
        std::nullopt, "", "relative/cache", "~/cache", "/", "//", "/home/tester", "/home/tester/",
        "/home//tester", "/home", "/home/", "/home/tester/./c", "/home/tester/../x", "/srv/.."};
    const std::pair<std::string, std::string> usable[] = {
        {"/data/cache/", "/data/cache"}, {"/data//cache", "/data/cache"},
        {"/home/test", "/home/test"}, {"/home/tester/.cache-alt", "/home/tester/.cache-alt"},
        {"/home/tester/..hidden", "/home/tester/..hidden"}};
    // clang-format on
    for (const auto& value : unusable) {
        EXPECT_EQ(validatedBaseDir(value, "/home/tester", ".cache"), "/home/tester/.cache")
            << value.value_or("(unset)");
    }
    for (const auto& [value, expected] : usable) {
        EXPECT_EQ(validatedBaseDir(value, "/home/tester", ".cache"), expected) << value;
    }
    EXPECT_EQ(validatedBaseDir(std::nullopt, "/home/tester/", ".local/state"),
              "/home/tester/.local/state");
    EXPECT_EQ(validatedBaseDir(std::nullopt, "/", ".config"), "/.config");
    const BaseDirs dirs = resolveBaseDirs("/home/tester", {"/c", std::nullopt, "/s", "/d"});
    EXPECT_EQ(dirs.cacheHome + " " + dirs.configHome + " " + dirs.stateHome + " " + dirs.dataHome,
              "/c /home/tester/.config /s /d");
    // A cache home that shares folders with another XDG folder falls back; where the default
    // shares too, there is none. The others never lie in an application's sandbox.
    const std::pair<BaseDirVariables, std::string> caches[] = {
        {{"/x/c", std::nullopt, "/x"}, "/home/tester/.cache"},
        {{"/x", "/x/config"}, "/home/tester/.cache"},
        {{std::nullopt, "/home/tester/.cache"}, ""},
        {{std::nullopt, std::nullopt, std::nullopt, "/home/tester/.cache/share"}, ""},
        {{"/home/tester/.var/app/a/cache"}, "/home/tester/.cache"}};
    for (const auto& [variables, cache] : caches) {
        EXPECT_EQ(resolveBaseDirs("/home/tester", variables).cacheHome, cache);
    }
    EXPECT_EQ(resolveBaseDirs("/home/tester", {std::nullopt, "/home/tester/snap/x"}).configHome,
              "/home/tester/.config");
}

// Decimal units and printf's rounding: a tie goes to the even neighbour; 1.005 is just below the
// tie as a double.
TEST(FormatBytes, DecimalUnitsAndPrintfRounding) {
    // clang-format off
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0 B"}, {999, "999 B"}, {1'000, "1 KB"}, {1'500, "2 KB"}, {2'500, "2 KB"},
        {3'500, "4 KB"}, {999'999, "1000 KB"}, {1'000'000, "1 MB"}, {2'500'000, "2 MB"},
        {999'999'999, "1000 MB"}, {1'000'000'000, "1.00 GB"}, {1'234'567'890, "1.23 GB"},
        {5'368'709'120, "5.37 GB"}, {1'005'000'000, "1.00 GB"}, {-5, "-5 B"}, {-5'000, "-5000 B"},
        {INT64_MAX, "9223372036.85 GB"}};
    // clang-format on
    for (const auto& [bytes, text] : cases) EXPECT_EQ(formatBytes(bytes), text) << bytes;
}

// Sizes count hidden files and never follow links; free space is what the user may use.
TEST(MeasureTest, SizesCountHiddenFilesButNotLinksAndFreeSpaceIsTheUsers) {
    ScratchDir tmp;
    makeTree(tmp.path(),
             {"empty/", "file=123", "c/ten=10", "c/sub/.hidden=20", "folder-link->" + tmp / "c",
              "file-link->" + tmp / "file", "dangling->" + tmp / "nowhere"});
    // clang-format off
    const std::tuple<std::string, std::int64_t, std::int64_t> cases[] = {  // item, directory size
        {tmp / "c", 30, 30}, {tmp / "c/", 30, 30}, {tmp / "file", 123, 0}, {tmp / "missing", 0, 0},
        {tmp / "empty", 0, 0}, {"", 0, 0}, {tmp / "folder-link", 0, 0}, {tmp / "file-link", 0, 0},
        {tmp / "dangling", 0, 0}};
    // clang-format on
    for (const auto& [path, item, directory] : cases) {
        EXPECT_EQ(itemSize(path), item) << path;
        EXPECT_EQ(directorySize(path), directory) << path;
    }
    struct statvfs vfs;
    ASSERT_EQ(::statvfs(tmp.path().c_str(), &vfs), 0);
    ::setenv("HOME", tmp.path().c_str(), 1);
    EXPECT_NEAR(freeDiskSpace(), static_cast<double>(vfs.f_bavail * vfs.f_frsize), 64e6);
}

}  // namespace
}  // namespace sweepkin::fixtures
