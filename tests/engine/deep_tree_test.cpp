#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "engine/deletion.h"
#include "engine/sizes.h"
#include "tests/engine/temp_tree.h"

namespace sweepkin {
namespace {

constexpr int kDepth = 3'000;

// Deep trees are measured and removed in a child whose descriptor limit is 64, so a walk that
// keeps one descriptor per level (or builds full paths) fails here.
class DeepTreeTest : public ::testing::Test {
  protected:
    test::TempDir tmp;
    test::ScopedHome home{tmp.path()};
    std::string cache = tmp / "Library/Caches/CloudKit";

    void SetUp() override {
        test::makeDirs(cache);
        test::writeFile(cache + "/top", 100);
        test::makeDeepChain(cache, kDepth);
    }

    static bool lowerDescriptorLimit() {
        const rlimit limit{64, 64};
        return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
    }
};

TEST_F(DeepTreeTest, MeasuredCompletelyWithFewDescriptors) {
    const std::string path = cache;
    const test::ChildResult child = test::runInChild([&](std::int64_t out[4]) {
        out[0] = lowerDescriptorLimit();
        out[1] = itemSize(path);
    });
    ASSERT_TRUE(child.ok);
    ASSERT_EQ(child.values[0], 1);
    EXPECT_EQ(child.values[1], 100 + kDepth);
}

TEST_F(DeepTreeTest, RemovedCompletelyWithFewDescriptors) {
    const std::string path = cache;
    const test::ChildResult child = test::runInChild([&](std::int64_t out[4]) {
        out[0] = lowerDescriptorLimit();
        const DeleteResult r = deleteCachePaths({path});
        out[1] = r.freed;
        out[2] = r.anyFailed;
    });
    ASSERT_TRUE(child.ok);
    ASSERT_EQ(child.values[0], 1);
    EXPECT_EQ(child.values[1], 100 + kDepth);
    EXPECT_EQ(child.values[2], 0);
    EXPECT_FALSE(test::exists(cache));
}

// The inode of the folder `levels` steps down the chain.
ino_t inodeAtLevel(const std::string& root, int levels) {
    int dir = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < levels && dir >= 0; ++i) {
        const int child = ::openat(dir, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(dir);
        dir = child;
    }
    struct stat st {};
    if (dir >= 0) ::fstat(dir, &st);
    ::close(dir);
    return st.st_ino;
}

TEST_F(DeepTreeTest, WayBackUpThatLeadsElsewhereIsNotTaken) {
    // Halfway down, the folder being emptied is moved out of the cache into the scratch folder,
    // whose files must not be touched. Coming back up through ".." then reaches the scratch
    // folder instead of the folder the walk came down through: that part is given up and the
    // removal fails. The move happens on the last visit of the folder (files go in a first
    // pass, folders in a second), when the walk goes down and up level by level.
    test::writeFile(tmp / "decoy.txt", 12);
    const std::string path = cache;
    const std::string parked = tmp / "parked";
    const ino_t moved = inodeAtLevel(cache, kDepth / 2);
    const test::ChildResult child = test::runInChild([&](std::int64_t out[4]) {
        out[0] = lowerDescriptorLimit();
        int visits = 0;
        DeletionHooks hooks;
        hooks.beforeDescend = [&](int parentFd, const char*) {
            struct stat st;
            if (::fstat(parentFd, &st) != 0 || st.st_ino != moved || ++visits != 2) return;
            const int grandParent = ::openat(parentFd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            out[1] = ::renameat(grandParent, "d", AT_FDCWD, parked.c_str()) == 0;
            ::close(grandParent);
        };
        out[2] = deleteCachePaths({path}, hooks).anyFailed;
    });
    ASSERT_TRUE(child.ok);
    ASSERT_EQ(child.values[0], 1);
    ASSERT_EQ(child.values[1], 1) << "the test could not move the folder";
    EXPECT_EQ(child.values[2], 1);
    EXPECT_TRUE(test::exists(tmp / "decoy.txt"));
    EXPECT_TRUE(test::exists(parked));
    EXPECT_TRUE(test::exists(cache + "/d"));
}

}  // namespace
}  // namespace sweepkin
