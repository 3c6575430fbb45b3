// Wildcards and patterns, the safety guard, the XDG base folders, sizes and their texts.

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>

#include "engine/catalogue/catalogue.h"
#include "engine/catalogue/pattern.h"
#include "engine/fs/base_dirs.h"
#include "engine/fs/resolver.h"
#include "engine/fs/safety_guard.h"
#include "engine/fs/sizes.h"
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
        {"a*b*c", "acb"}, {"a*", ""}, {"ab*ba", "aba"}, {"a*a", "a"}, {"*ab*ab", "ab"},
        {"*a*b*", "ba"}};  // a middle part after the first one must be there too
    // clang-format on
    for (const auto& [glob, name] : matches) EXPECT_TRUE(wildcardMatch(glob, name)) << glob;
    for (const auto& [glob, name] : mismatches) EXPECT_FALSE(wildcardMatch(glob, name)) << glob;
    // Inputs that make a naive backtracking matcher take exponential time finish at once.
    const std::string as(100'000, 'a');
    std::string bomb;
    for (int i = 0; i < 2'500; ++i) bomb += "*a";
    EXPECT_FALSE(wildcardMatch(bomb + "*b", as));
    EXPECT_TRUE(wildcardMatch(std::string(5'000, '*'), as));
}

// What a location names: each profile's folder in the order the file system lists them; a
// literal item when something (not a link to nothing) is there; a wildcard item of any kind;
// names are byte strings; each text once, where it was first found.
TEST(Resolver, WhatALocationNames) {
    ScratchDir tmp;
    const std::string g = tmp / "G";
    makeTree(tmp.path(),
             {"G/Default/Cache/", "G/Profile 1/Cache/", "G/Guest/Cache/", "G/Default/GPUCache/",
              "G/NoCacheHere/", "G/Local State=10", "c/.hidden/", "c/file=1", "c/dangling->/none",
              "plain=1", "dangling->nowhere", "p/new\nline \xff/Cache/"});
    Paths inListingOrder;
    for (const auto& entry : std::filesystem::directory_iterator(g)) {
        if (exists(entry.path() / "Cache")) inListingOrder.push_back(entry.path() / "Cache");
    }
    ASSERT_EQ(inListingOrder.size(), 3u);
    // The guard admits what lies strictly inside the cache home: here all of the scratch home,
    // so that only the expansion decides.
    Resolver resolver(Places{tmp.path(), tmp.path()});
    const auto texts = [&](const std::vector<Location>& locations) {
        Paths out;
        for (const Item& item : resolver.items(locations)) out.push_back(item.path);
        return out;
    };
    using enum RootKind;
    EXPECT_EQ(texts({{Home, {}, "G", {"*/Cache"}}}), inListingOrder);
    // clang-format off
    const std::pair<Location, Paths> cases[] = {
        {{Home, {}, "plain", {""}}, {tmp / "plain"}}, {{Home, {}, "dangling", {""}}, {}},
        {{Home, {}, "missing", {""}}, {}},
        {{Home, {}, "c", {"*"}}, {tmp / "c/.hidden", tmp / "c/file"}},  // a link to nothing: none
        {{Home, {}, "plain", {"*"}}, {}}, {{Home, {}, "G", {"*/Missing"}}, {}},
        {{Home, {}, "G", {"Default/.."}}, {}}, {{Home, {}, "G/..", {"plain"}}, {}},
        {{Home, {}, "p", {"*/Cache"}}, {tmp / "p/new\nline \xff/Cache"}}};
    // clang-format on
    for (const auto& [location, expected] : cases) {
        Paths got = texts({location});
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, expected) << location.folder;
    }
    const Paths all = texts({{Home, {}, "G", {"Default/GPUCache", "*/Cache", "Default/Cache"}},
                             {Home, {}, "G", {"*/*Cache", "Missing"}}});
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(Paths(all.begin() + 1, all.end()), inListingOrder);
}

std::string expanded(const std::string& path) {  // "~" stands for /home/tester
    return path.starts_with('~') ? "/home/tester" + path.substr(1) : path;
}

// Beyond the self-test's sixteen cases (checked through the program's output): inside
// ~/Library/Caches anything goes, and a cache-named last component anywhere; what lies strictly
// inside the XDG cache home (here /data/xdg, a name without "cache": the default does not count
// then) or one application's Flatpak or snap caches folder; dot components never count as inside.
TEST(SafetyGuard, AllowsCachesAndRefusesData) {
    // clang-format off
    const Paths allowed = {
        "~/Library/Caches", "~/Library/Caches/", "~/Library/Caches/any/depth",
        "~/Library/Caches/Cookies", "~/Library/CachesOld", "~/Documents/MyCacheBackup",
        "/anywhere/cache.db", "/anywhere/CACHEDDATA/", "Cache", "~/Library/Caches.db",
        "~/Library/Caches/../Cache", "/data/xdg/spotify", "/data/xdg/google-chrome-beta/Default",
        "~/.var/app/com.spotify.Client/cache/spotify", "~/.var/app/com.spotify.Client/cache/",
        "~/snap/spotify/common/.cache/spotify", "~/snap/spotify/common/.cache/spotify/Data",
        "~/.config/google-chrome/Default/Service Worker/CacheStorage"};
    const Paths refused = {
        "~/Library/CachesOld/x", "~/library/caches/x", "~/Library//Caches/x", "/", "", "~",
        "~/Library/Cach", "~/Library/Caches/../../Documents", "~/Library/Caches/..",
        "~/Library/Caches/x/../../Preferences", "~/Library/Caches/./x",
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
    ::setenv("HOME", "/srv/cachehome", 1);  // read afresh on every call; admitted by its name
    EXPECT_TRUE(isSafeCachePath("/srv/cachehome") &&
                isSafeCachePath("/srv/cachehome/Library/Caches/x"));
    EXPECT_FALSE(isSafeCachePath("~/Library/Caches/x"));  // an unexpanded tilde
}

// Every location of the catalogue passes the guard as it stands, with the XDG folders and the
// tools' folders where they are by default and elsewhere: a clean never leaves what the panel
// counted.
TEST(SafetyGuard, AdmitsEveryLocationOfTheCatalogue) {
    // The XDG folders as they are, then moved, with every tool's variable naming a folder outside
    // the cache home that says "cache": whatever the folders keep of them passes the guard.
    BaseDirVariables moved{"/srv/c", "/srv/f", std::nullopt, "/srv/d"};
    for (const AppTarget& target : buildCacheTargets()) {
        for (const ToolVariable& tool : target.tools) {
            moved.tools[tool.name] = "/srv/" + tool.name + "-cache";
        }
    }
    for (const BaseDirVariables& variables : {BaseDirVariables{}, moved}) {
        const BaseDirs dirs = resolveBaseDirs("/home/t", variables);
        const Places places{"/home/t", dirs.cacheHome, dirs.configHome, dirs.dataHome, dirs.tools};
        const Resolver resolver(places);
        for (const AppTarget& target : buildCacheTargets()) {
            for (const Location& location : target.locations) {
                for (std::string text : resolver.patterns(location)) {
                    for (std::size_t star; (star = text.find('*')) != std::string::npos;) {
                        text.replace(star, 1, "Default");
                    }
                    EXPECT_TRUE(isSafeCachePath(text, places.home, places.cacheHome)) << text;
                }
            }
        }
    }
    EXPECT_EQ(resolveBaseDirs("/home/t", moved).tools["GRADLE_USER_HOME"],
              "/srv/GRADLE_USER_HOME-cache");
}

// Settings store rows by id, so ids must be unique and keep one plain form; the rows that are
// expensive to rebuild start unticked.
TEST(Catalogue, IdsAreUniqueLowercaseWordsJoinedByHyphens) {
    const std::regex form("[a-z][a-z0-9]*(-[a-z0-9]+)*");
    std::set<std::string> ids, names, unticked;
    for (const AppTarget& target : buildCacheTargets()) {
        EXPECT_TRUE(std::regex_match(target.id, form)) << target.id;
        EXPECT_TRUE(ids.insert(target.id).second) << target.id;
        EXPECT_TRUE(names.insert(target.name).second) << target.name;
        if (target.startsUnticked) unticked.insert(target.id);
    }
    // Getting these back costs minutes of CPU or a download of hundreds of MB or more.
    EXPECT_EQ(unticked,
              (std::set<std::string>{"steam-shader-caches", "hugging-face", "playwright-browsers",
                                     "puppeteer-browsers", "cypress", "go-modules"}));
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
    // A tool's variable counts where its folder and the items in it pass the guard and it holds
    // nothing else of the user's; otherwise the default, where that passes.
    struct ToolRow {
        std::map<std::string, std::string> set;
        std::string variable = "GOCACHE";
        std::string folder;
        std::optional<std::string> cacheHome = std::nullopt;
    };
    const std::string go = "/home/tester/.cache/go-build";
    // clang-format off
    const ToolRow tools[] = {
        {{{"GOCACHE", "/home/tester/gocache"}}, "GOCACHE", "/home/tester/gocache"},
        {{{"GOCACHE", "/srv/go/"}}, "GOCACHE", go},
        {{{"GOCACHE", "relative-cache"}}, "GOCACHE", go},
        {{{"GOCACHE", "/home/tester/.cache"}}, "GOCACHE", go},
        {{{"GOCACHE", "/home/tester/.config/go-cache"}}, "GOCACHE", "/home/tester/.config/go-cache"},
        {{{"GOCACHE", "/home/tester/cache"}}, "GOCACHE", go},
        {{{"GOCACHE", "/home"}}, "GOCACHE", go},
        {{{"GOCACHE", "/home/tester/.cache/x/.."}}, "GOCACHE", go},
        // Another tool's folder that keeps more than caches, though its own value was refused.
        {{{"GOCACHE", "/srv/a-cache"}, {"npm_config_cache", "/srv/a-cache/npm"}}, "GOCACHE", go},
        // ccache's level folders say nothing of a cache outside the cache home.
        {{{"CCACHE_DIR", "/home/tester/ccache"}}, "CCACHE_DIR", "/home/tester/.cache/ccache"},
        {{{"CCACHE_DIR", "/home/tester/.cache/cc"}}, "CCACHE_DIR", "/home/tester/.cache/cc"},
        {{{"GRADLE_USER_HOME", "/home/tester/altgh"}}, "GRADLE_USER_HOME", "/home/tester/.gradle"},
        {{}, "HF_HUB_CACHE", ""},
        {{{"HF_HUB_CACHE", "/srv/hf-cache"}}, "HF_HUB_CACHE", "/srv/hf-cache"},
        {{{"HF_HUB_CACHE", "/srv/hf-cache"}, {"HF_HOME", "/srv/hf-cache"}}, "HF_HUB_CACHE", ""},
        {{}, "PUPPETEER_CACHE_DIR", "/home/tester/.cache/puppeteer"},
        {{}, "PUPPETEER_CACHE_DIR", "", "/c"},
        {{}, "GOMODCACHE", "/home/tester/go/pkg/mod"}};
    // clang-format on
    for (const ToolRow& row : tools) {
        BaseDirVariables variables{row.cacheHome, "/home/tester/cache"};
        variables.tools = row.set;
        EXPECT_EQ(resolveBaseDirs("/home/tester", variables).tools[row.variable], row.folder)
            << ::testing::PrintToString(row.set);
    }
    // A state folder others may add to, sticky or not: a link of theirs could take the report
    // anywhere.
    ScratchDir tmp;
    makeDirs(tmp / "shared");
    ::chmod((tmp / "shared").c_str(), 01777);
    EXPECT_EQ(resolveBaseDirs(tmp.path(), {std::nullopt, std::nullopt, tmp / "shared"}).stateHome,
              tmp / ".local/state");
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

// Sizes count hidden files and what the disk holds of each file, never follow links, and count
// an item inside another once; free space is what the user may use.
TEST(MeasureTest, SizesCountWhatTheDiskHoldsButNotLinks) {
    ScratchDir tmp;
    const std::string in = tmp / "Library/Caches";  // where the guard admits every name
    makeTree(in, {"empty/", "file=123", "c/ten=10", "c/sub/.hidden=20", "folder-link->" + in + "/c",
                  "file-link->" + in + "/file"});
    // Files of 4 TB that hold nothing count nothing: no clean would give those bytes back.
    for (const char* name : {"/sparse/a", "/sparse/b"}) {
        writeFile(in + name, 0);
        ASSERT_EQ(::truncate((in + name).c_str(), std::int64_t{1} << 42), 0);
    }
    ::setenv("HOME", tmp.path().c_str(), 1);
    const auto inCaches = [](std::vector<std::string> names) {
        for (std::string& name : names) name = "Library/Caches/" + name;
        return homeItems(names);
    };
    const std::vector<Item> items =
        inCaches({"c", "file", "empty", "folder-link", "file-link", "sparse", "missing"});
    ASSERT_EQ(items.size(), 6u);
    const std::int64_t sizes[][2] = {{30, 30}, {123, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}};
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(itemSize(items[i]), sizes[i][0]) << items[i].path;
        EXPECT_EQ(directorySize(items[i]), sizes[i][1]) << items[i].path;
    }
    EXPECT_EQ(pathsSize(inCaches({"c/sub", "c", "file", "folder-link", "c"})), 153);
    struct statvfs vfs;
    ASSERT_EQ(::statvfs(tmp.path().c_str(), &vfs), 0);
    EXPECT_NEAR(homeDiskSpace().free, static_cast<double>(vfs.f_bavail * vfs.f_frsize), 64e6);
}

}  // namespace
}  // namespace sweepkin::fixtures
