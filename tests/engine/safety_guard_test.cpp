#include <gtest/gtest.h>

#include <string>

#include "engine/safety_guard.h"
#include "tests/hardening/tree_support.h"

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

}  // namespace
}  // namespace sweepkin
