#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/deletion.h"
#include "engine/sizes.h"
#include "tests/engine/temp_tree.h"

namespace sweepkin {
namespace {

using test::exists;
using test::makeDirs;
using test::makeLink;
using test::snapshot;
using test::TempDir;
using test::writeFile;

class DeletionTest : public ::testing::Test {
  protected:
    TempDir tmp;
    test::ScopedHome home{tmp.path()};
    std::string caches = tmp / "Library/Caches";
    std::string support = tmp / "Library/Application Support";
};

TEST_F(DeletionTest, EmptyListFreesNothing) {
    const DeleteResult r = deleteCachePaths({});
    EXPECT_EQ(r.freed, 0);
    EXPECT_FALSE(r.anyFailed);
}

TEST_F(DeletionTest, RemovesTheFolderItselfAndCountsItsSize) {
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

TEST_F(DeletionTest, LinksInsideTheCacheAreRemovedButTheirTargetsSurvive) {
    writeFile(tmp / "Documents/precious/a.txt", 1'234);
    writeFile(tmp / "Documents/precious/deep/b.txt", 4'321);
    writeFile(tmp / "Documents/alone.txt", 50);
    const auto before = snapshot(tmp / "Documents");

    writeFile(caches + "/Google/Chrome/blob", 100);
    makeLink(tmp / "Documents/precious", caches + "/Google/Chrome/to-folder");
    makeLink(tmp / "Documents/alone.txt", caches + "/Google/Chrome/sub/to-file");
    makeLink("../../../../Documents", caches + "/Google/Chrome/sub/relative");
    const DeleteResult r = deleteCachePaths({caches + "/Google/Chrome"});
    EXPECT_EQ(r.freed, 100);
    EXPECT_FALSE(r.anyFailed);
    EXPECT_FALSE(exists(caches + "/Google/Chrome"));
    EXPECT_EQ(snapshot(tmp / "Documents"), before);
}

TEST_F(DeletionTest, ACachePathThatIsALinkLosesOnlyTheLink) {
    writeFile(tmp / "elsewhere/Cache/keep", 3'000);
    makeLink(tmp / "elsewhere/Cache", caches + "/com.apple.Safari");
    makeLink(tmp / "nowhere", caches + "/dangling");
    const DeleteResult r = deleteCachePaths({caches + "/com.apple.Safari", caches + "/dangling"});
    EXPECT_EQ(r.freed, 0);
    EXPECT_FALSE(r.anyFailed);
    EXPECT_FALSE(exists(caches + "/com.apple.Safari"));
    EXPECT_TRUE(exists(tmp / "elsewhere/Cache/keep"));
    // A link to nothing does not exist for the existence test and is left alone.
    EXPECT_TRUE(exists(caches + "/dangling"));
}

TEST_F(DeletionTest, NeverGoesThroughALinkOnTheWayDownFromTheCachesFolder) {
    // The guard admits anything below the caches folder by its text; a link inside it must not
    // turn that into a path to the user's documents.
    writeFile(tmp / "Documents/Projects/plan.txt", 10);
    makeDirs(caches);
    makeLink(tmp / "Documents", caches + "/Docs");
    const DeleteResult r = deleteCachePaths({caches + "/Docs/Projects"});
    EXPECT_EQ(r.freed, 0);
    EXPECT_FALSE(r.anyFailed);
    EXPECT_TRUE(exists(tmp / "Documents/Projects/plan.txt"));
}

TEST_F(DeletionTest, OddNamesAreRemovedLikeAnyOther) {
    const std::string odd = caches + "/odd/new\nline/\xff\xfe name";
    writeFile(odd, 64);
    writeFile(caches + "/odd/ok", 1);
    const DeleteResult r = deleteCachePaths({caches + "/odd"});
    EXPECT_EQ(r.freed, 65);
    EXPECT_FALSE(r.anyFailed);
    EXPECT_FALSE(exists(caches + "/odd"));
}

TEST_F(DeletionTest, LargeTreeFreesWhatWasMeasured) {
    const std::string cache = support + "/Google/Chrome/Default/Cache";
    for (int i = 0; i < 3'000; ++i) {
        writeFile(cache + "/Cache_Data/f_" + std::to_string(i) + "_0123456789abcdef", i % 500);
    }
    for (int d = 0; d < 300; ++d) {
        writeFile(cache + "/index-dir/" + std::to_string(d % 9) + "/" + std::to_string(d) + "/x",
                  d);
    }
    const std::int64_t expected = test::referenceSize(cache);
    ASSERT_EQ(itemSize(cache), expected);
    const DeleteResult r = deleteCachePaths({cache});
    EXPECT_EQ(r.freed, expected);
    EXPECT_FALSE(r.anyFailed);
    EXPECT_FALSE(exists(cache));
    EXPECT_TRUE(exists(support + "/Google/Chrome/Default"));
}

TEST_F(DeletionTest, SubfolderSwappedForALinkMidWayIsRemovedAsALink) {
    writeFile(tmp / "decoy/keep/one", 111);
    writeFile(tmp / "decoy/two", 222);
    const auto decoyBefore = snapshot(tmp / "decoy");
    writeFile(caches + "/CloudKit/victim/inner/file", 5);
    writeFile(caches + "/CloudKit/other", 7);

    std::atomic<int> swaps{0};
    DeletionHooks hooks;
    const std::string decoy = tmp / "decoy";
    const std::string parked = tmp / "parked";
    hooks.beforeDescend = [&](int parentFd, const char* name) {
        if (std::string(name) != "victim" || swaps.fetch_add(1) != 0) return;
        // The real folder goes away and a link to the decoy takes its name, between the
        // listing and the opening.
        ASSERT_EQ(::renameat(parentFd, name, AT_FDCWD, parked.c_str()), 0);
        ASSERT_EQ(::symlinkat(decoy.c_str(), parentFd, name), 0);
    };
    const DeleteResult r = deleteCachePaths({caches + "/CloudKit"}, hooks);
    EXPECT_EQ(swaps.load() >= 1, true);
    EXPECT_FALSE(r.anyFailed);
    EXPECT_FALSE(exists(caches + "/CloudKit"));
    EXPECT_EQ(snapshot(tmp / "decoy"), decoyBefore);
    EXPECT_TRUE(exists(parked + "/inner/file"));
}

TEST_F(DeletionTest, CachePathSwappedForALinkJustBeforeItIsOpened) {
    writeFile(tmp / "decoy/keep", 10);
    writeFile(caches + "/CloudKit/x", 5);
    DeletionHooks hooks;
    const std::string decoy = tmp / "decoy";
    const std::string parked = tmp / "parked";
    bool swapped = false;
    hooks.beforeDescend = [&](int parentFd, const char* name) {
        if (swapped || std::string(name) != "CloudKit") return;
        swapped = true;
        ASSERT_EQ(::renameat(parentFd, name, AT_FDCWD, parked.c_str()), 0);
        ASSERT_EQ(::symlinkat(decoy.c_str(), parentFd, name), 0);
    };
    const DeleteResult r = deleteCachePaths({caches + "/CloudKit"}, hooks);
    EXPECT_TRUE(swapped);
    EXPECT_EQ(r.freed, 0);
    EXPECT_FALSE(r.anyFailed);
    EXPECT_FALSE(exists(caches + "/CloudKit"));
    EXPECT_TRUE(exists(tmp / "decoy/keep"));
}

TEST_F(DeletionTest, PartialFailureFreesNothingForThatPathButLaterPathsGo) {
    writeFile(caches + "/first/blob", 2'000'000);
    writeFile(caches + "/second/a-removable", 10);
    writeFile(caches + "/second/locked/kept", 10);
    writeFile(caches + "/second/z-removable", 10);
    writeFile(caches + "/third/blob", 1'000);
    test::giveToNobody(tmp.path());
    ASSERT_EQ(::chmod((caches + "/second/locked").c_str(), 0500), 0);

    const std::vector<std::string> paths = {caches + "/first", caches + "/second",
                                            caches + "/third"};
    const std::string home = tmp.path();
    const test::ChildResult child = test::runInChild(
        [&](std::int64_t out[4]) {
            const DeleteResult r = deleteCachePaths(paths);
            out[0] = r.freed;
            out[1] = r.anyFailed;
        },
        /*dropToNobody=*/true);
    ASSERT_TRUE(child.ok);
    EXPECT_EQ(child.values[0], 2'001'000);
    EXPECT_EQ(child.values[1], 1);
    EXPECT_FALSE(exists(caches + "/first"));
    EXPECT_FALSE(exists(caches + "/third"));
    EXPECT_TRUE(exists(caches + "/second/locked/kept"));
    EXPECT_FALSE(exists(caches + "/second/a-removable"));
    EXPECT_FALSE(exists(caches + "/second/z-removable"));
}

TEST_F(DeletionTest, MountPointInsideACacheIsLeftInPlaceAndFails) {
    if (!test::runningAsRoot()) GTEST_SKIP() << "mounting a tmpfs needs root";
    writeFile(caches + "/CloudKit/plain", 10);
    makeDirs(caches + "/CloudKit/mnt");
    const std::string cloudKit = caches + "/CloudKit";
    const std::string mountPoint = cloudKit + "/mnt";
    // In a private mount namespace of a child, so nothing leaks to the machine.
    const test::ChildResult child = test::runInChild([&](std::int64_t out[4]) {
        out[0] = -1;
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("sweepkin-test", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0) {
            return;
        }
        const int fd = ::open((mountPoint + "/on-other-fs").c_str(), O_WRONLY | O_CREAT, 0644);
        if (fd < 0 || ::write(fd, "abc", 3) != 3) return;
        ::close(fd);
        // Measuring stays on the cache's own file system too: the size is what a clean frees.
        out[0] = itemSize(cloudKit);
        const DeleteResult r = deleteCachePaths({cloudKit});
        struct stat st;
        out[1] = r.freed;
        out[2] = r.anyFailed;
        out[3] = ::stat((mountPoint + "/on-other-fs").c_str(), &st) == 0 && st.st_size == 3;
    });
    ASSERT_TRUE(child.ok);
    if (child.values[0] == -1) GTEST_SKIP() << "this machine does not allow a private tmpfs mount";
    EXPECT_EQ(child.values[0], 10);
    EXPECT_EQ(child.values[1], 0);
    EXPECT_EQ(child.values[2], 1);
    EXPECT_EQ(child.values[3], 1) << "content of the mounted file system was touched";
    EXPECT_FALSE(exists(cloudKit + "/plain"));
    EXPECT_TRUE(exists(mountPoint));
}

}  // namespace
}  // namespace sweepkin
