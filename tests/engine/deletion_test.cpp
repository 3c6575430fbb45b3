#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "engine/deletion.h"
#include "engine/sizes.h"
#include "tests/support/tree.h"

// Links, swaps, odd names, huge, deep and locked trees are covered by tests/hardening.
namespace sweepkin {
namespace {

using namespace hardening;

class DeletionTest : public ::testing::Test {
  protected:
    ScratchDir tmp;
    ScopedHome home{tmp.path()};
    std::string caches = tmp / "Library/Caches";
    std::string support = tmp / "Library/Application Support";
};

TEST_F(DeletionTest, RemovesTheFolderItselfAndCountsItsSize) {
    EXPECT_EQ(deleteCachePaths({}).freed, 0);
    for (int i = 0; i < 3; ++i)
        writeFile(caches + "/CloudKit/sub" + std::to_string(i) + "/blob", 1'000'000);
    makeDirs(caches + "/CloudKit/empty/nested");
    const DeleteResult r = deleteCachePaths({caches + "/CloudKit"});
    EXPECT_EQ(r.freed, 3'000'000);
    EXPECT_FALSE(r.anyFailed);
    EXPECT_FALSE(exists(caches + "/CloudKit"));
    EXPECT_TRUE(exists(caches));
}

TEST_F(DeletionTest, SkipsRefusedAndMissingPathsWithoutFailing) {
    const std::string cookies = support + "/Google/Chrome/Default/Cookies";
    writeFile(cookies, 500);
    writeFile(tmp / "Documents/report.txt", 10);
    const DeleteResult r = deleteCachePaths({
        cookies,
        tmp / "Documents",
        caches + "/../../Documents",
        caches + "/missing",
        support + "/Code/GPUCache",
    });
    EXPECT_EQ(r.freed, 0);
    EXPECT_FALSE(r.anyFailed);
    EXPECT_TRUE(exists(cookies));
    EXPECT_TRUE(exists(tmp / "Documents/report.txt"));
}

TEST_F(DeletionTest, FilesAndCacheNamedPathsOutsideTheCachesFolder) {
    writeFile(support + "/Code/GPUCache/data_0", 2'000);
    writeFile(support + "/Code/GPUCache/index", 48);
    writeFile(caches + "/single.bin", 77);
    writeFile(tmp / "Documents/cache.db", 9);
    const DeleteResult r = deleteCachePaths(
        {support + "/Code/GPUCache/", caches + "/single.bin", tmp / "Documents/cache.db"});
    EXPECT_EQ(r.freed, 2'048 + 77 + 9);
    EXPECT_FALSE(r.anyFailed);
    EXPECT_FALSE(exists(support + "/Code/GPUCache"));
    EXPECT_FALSE(exists(caches + "/single.bin"));
    EXPECT_FALSE(exists(tmp / "Documents/cache.db"));
    EXPECT_TRUE(exists(support + "/Code"));
}

TEST_F(DeletionTest, NestedPathIsCountedWithTheEarlierOne) {
    writeFile(caches + "/com.spotify.client/Data/a", 1'000);
    writeFile(caches + "/com.spotify.client/Data/b", 500);
    const DeleteResult r =
        deleteCachePaths({caches + "/com.spotify.client", caches + "/com.spotify.client/Data"});
    EXPECT_EQ(r.freed, 1'500);
    EXPECT_FALSE(r.anyFailed);
}

TEST_F(DeletionTest, MountPointInsideACacheIsLeftInPlaceAndFails) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    writeFile(caches + "/CloudKit/plain", 10);
    const std::string cloudKit = caches + "/CloudKit";
    const std::string mountPoint = cloudKit + "/mnt";
    makeDirs(mountPoint);
    // In a private mount namespace of a child, so nothing leaks to the machine.
    const ChildOutcome child = runInChild([&]() -> std::string {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("sweepkin-test", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0) {
            return "skip";
        }
        writeText(mountPoint + "/on-other-fs", "abc");
        // Measuring stays on the cache's own file system too: the size is what a clean frees.
        const std::int64_t measured = itemSize(cloudKit);
        const DeleteResult r = deleteCachePaths({cloudKit});
        return std::to_string(measured) + " " + std::to_string(r.freed) + " " +
               std::to_string(r.anyFailed) + " " + readText(mountPoint + "/on-other-fs");
    });
    ASSERT_TRUE(child.exitedNormally);
    if (child.output == "skip") GTEST_SKIP() << "this machine does not allow a private tmpfs mount";
    EXPECT_EQ(child.output, "10 0 1 abc") << "measured freed failed, then the mounted file";
    EXPECT_FALSE(exists(cloudKit + "/plain"));
    EXPECT_TRUE(exists(mountPoint));
}

}  // namespace
}  // namespace sweepkin
