#include <gtest/gtest.h>

#include <string>

#include "engine/base_dirs.h"
#include "engine/safety_guard.h"
#include "tests/support/tree.h"

namespace sweepkin {
namespace {

struct GuardCase {
    std::string path;  // "~" stands for the home folder
    bool allowed;
};

class SafetyGuardTest : public ::testing::Test {
  protected:
    std::string home = "/home/tester";
    hardening::ScopedHome scopedHome{home};

    bool verdict(const std::string& path) {
        return isSafeCachePath(path.starts_with('~') ? home + path.substr(1) : path);
    }
};

TEST_F(SafetyGuardTest, AllowsCachesAndRefusesData) {
    const GuardCase cases[] = {
        {"~/Library/Caches/CloudKit", true},
        {"~/Library/Caches/com.apple.Safari", true},
        {"~/Library/Containers/com.apple.Safari/Data/Library/Caches", true},
        {"~/Library/Application Support/Google/Chrome/Default/Cache", true},
        {"~/Library/Application Support/Code/GPUCache", true},
        {"~/Library/Application Support/Slack/Service Worker/CacheStorage", true},
        {"~/Library/Application Support/Google/Chrome/Default", false},
        {"~/Library/Application Support/Google/Chrome/Default/Cookies", false},
        {"~/Library/Application Support/Google/Chrome/Default/History", false},
        {"~/Library/Application Support/Google/Chrome/Default/Login Data", false},
        {"~/Library/Application Support/Google/Chrome/Default/Bookmarks", false},
        {"~/Library/Application Support/Google/Chrome/Default/Local Storage", false},
        {"~/Library/Application Support/Claude/claude-code-sessions", false},
        {"~/Library/Safari/History.db", false},
        {"~/Documents", false},
        {"~", false},
        // Beyond the self-test's lists.
        {"~/Library/Caches", true},
        {"~/Library/Caches/", true},
        {"~/Library/Caches/anything/at/any/depth", true},
        {"~/Library/Caches/Cookies", true},
        {"~/Library/CachesOld/x", false},
        {"~/Library/CachesOld", true},
        {"~/library/caches/x", false},  // rules 1 and 2 are case-sensitive
        {"~/Library//Caches/x", false},
        {"~/Documents/MyCacheBackup", true},
        {"/anywhere/cache.db", true},
        {"/anywhere/CACHEDDATA/", true},
        {"~/Library/Application Support/Google/Chrome/Default/Cache/", true},
        {"/", false},
        {"", false},
        {"Cache", true},  // no slash: the whole text is the last component
        {"~/Library/Cach", false},
        {"~/Library/Caches.db", true},
        // Dot components cannot leave the caches folder.
        {"~/Library/Caches/../../Documents", false},
        {"~/Library/Caches/..", false},
        {"~/Library/Caches/x/../../Preferences", false},
        {"~/Library/Caches/./x", false},
        // A cache-named leaf is admitted on its own merits, wherever the path leads.
        {"~/Library/Caches/../Cache", true},
    };
    for (const GuardCase& c : cases) EXPECT_EQ(verdict(c.path), c.allowed) << c.path;
    EXPECT_FALSE(isSafeCachePath("~/Library/Caches/x"));  // unexpanded tilde
    EXPECT_TRUE(isSafeCachePath("~/Library/Caches/GPUCache"));
}

TEST(SafetyGuardHome, FollowsTheCurrentHomeOnEveryCall) {
    {
        hardening::ScopedHome home("/home/a");
        EXPECT_TRUE(isSafeCachePath("/home/a/Library/Caches/x"));
        EXPECT_FALSE(isSafeCachePath("/home/b/Library/Caches/x"));
    }
    hardening::ScopedHome home("/home/b/");
    EXPECT_TRUE(isSafeCachePath("/home/b/Library/Caches/x"));
    EXPECT_FALSE(isSafeCachePath("/home/b"));
}

TEST(SafetyGuardHome, HomeNamedLikeACacheIsAllowedByItsName) {
    hardening::ScopedHome home("/srv/cachehome");
    EXPECT_TRUE(isSafeCachePath("/srv/cachehome"));
}

// The Linux caches folders admit what lies strictly inside them, and nothing beside them.
TEST(SafetyGuardLinux, AdmitsOnlyPathsStrictlyInsideTheLinuxCachesFolders) {
    const std::string home = "/home/tester";
    const std::string cacheHome = "/data/xdg";  // a name without "cache", so rule 3 stays out
    const GuardCase cases[] = {
        {"/data/xdg/spotify", true},
        {"/data/xdg/google-chrome-beta/Default", true},
        {"/data/xdg", false},
        {"/data/xdg/", false},
        {"/data/xdg//", false},
        {"/data/xdgx/spotify", false},
        {"/data/xdg/../secrets", false},
        {"/data/xdg/./spotify", false},
        {"~/.cache/spotify", false},  // the default does not count when the variable is set
        {"~/.var/app/com.spotify.Client/cache/spotify", true},
        {"~/.var/app/com.spotify.Client/cache/", true},  // rule 3: the name "cache"
        {"~/.var/app/com.spotify.Client/data/spotify", false},
        {"~/.var/app/com.spotify.Client/config/spotify", false},
        {"~/.var/app/com.spotify.Client/cachex/spotify", false},
        {"~/.var/app/a/b/cache/spotify", false},
        {"~/.var/app//cache/spotify", false},
        {"~/.var/app/../cache/spotify", false},
        {"~/.var/app/x/cache/../../../Documents", false},
        {"~/.var/app/cache/spotify", false},
        {"~/snap/spotify/common/.cache/spotify", true},
        {"~/snap/spotify/common/.cache/spotify/Data", true},
        {"~/snap/spotify/current/.cache/spotify", false},
        {"~/snap/spotify/common/spotify", false},
        {"~/snap/./common/.cache/spotify", false},
        {"~/snap/spotify/common/.cache/../../../.ssh", false},
        {"/other/.var/app/x/cache/spotify", false},
        {"~/.config/spotify", false},
        {"~/.config/google-chrome/Default/Cookies", false},
        {"~/.config/google-chrome/Local State", false},
        {"~/.config/Code/User", false},
        {"~/.config/Slack/storage", false},
        {"~/.config/Claude/claude_desktop_config.json", false},
        {"~/.config/google-chrome/Default/Service Worker/CacheStorage", true},
        {"~/Library/Caches/x", true},
    };
    for (const GuardCase& c : cases) {
        const std::string path = c.path.starts_with('~') ? home + c.path.substr(1) : c.path;
        EXPECT_EQ(isSafeCachePath(path, home, cacheHome), c.allowed) << c.path;
    }
}

TEST(BaseDirs, UnusableValuesFallBackToTheDefaults) {
    const std::string home = "/home/tester";
    const std::string fallback = "/home/tester/.cache";
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {std::nullopt, fallback},
        {"", fallback},
        {"relative/cache", fallback},
        {"~/cache", fallback},
        {"/", fallback},
        {"//", fallback},
        {"/home/tester", fallback},
        {"/home/tester/", fallback},
        {"/home//tester", fallback},
        {"/home", fallback},
        {"/home/", fallback},
        {"/home/tester/./c", fallback},
        {"/home/tester/../x", fallback},
        {"/srv/..", fallback},
        {"/data/cache/", "/data/cache"},
        {"/data//cache", "/data/cache"},
        {"/home/test", "/home/test"},  // a sibling that shares letters, not an ancestor
        {"/home/tester/.cache-alt", "/home/tester/.cache-alt"},
        {"/home/tester/..hidden", "/home/tester/..hidden"},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(validatedBaseDir(value, home, ".cache"), expected) << value.value_or("(unset)");
    }
    EXPECT_EQ(validatedBaseDir(std::nullopt, "/home/tester/", ".local/state"),
              "/home/tester/.local/state");
    EXPECT_EQ(validatedBaseDir(std::nullopt, "/", ".config"), "/.config");
    const BaseDirs dirs = resolveBaseDirs(home, {"/c", std::nullopt, "/s"});
    EXPECT_EQ(dirs.cacheHome, "/c");
    EXPECT_EQ(dirs.configHome, "/home/tester/.config");
    EXPECT_EQ(dirs.stateHome, "/s");
}

}  // namespace
}  // namespace sweepkin
