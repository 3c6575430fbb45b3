#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/sizes.h"
#include "tests/engine/temp_tree.h"

namespace sweepkin {
namespace {

using test::makeDirs;
using test::makeLink;
using test::TempDir;
using test::writeFile;

struct FormatCase {
    std::int64_t bytes;
    const char* text;
};

constexpr FormatCase kFormatCases[] = {
    {0, "0 B"},
    {999, "999 B"},
    {1'000, "1 KB"},
    {1'500, "2 KB"},
    {2'500, "2 KB"},  // an exact tie goes to the even neighbour
    {3'500, "4 KB"},
    {999'999, "1000 KB"},
    {1'000'000, "1 MB"},
    {2'500'000, "2 MB"},
    {999'999'999, "1000 MB"},
    {1'000'000'000, "1.00 GB"},
    {1'234'567'890, "1.23 GB"},
    {5'368'709'120, "5.37 GB"},
    {1'005'000'000, "1.00 GB"},  // 1.005 is just below the tie as a double
    {-5, "-5 B"},
    {-5'000, "-5000 B"},
    {INT64_MAX, "9223372036.85 GB"},
};

TEST(FormatBytes, DecimalUnitsAndPrintfRounding) {
    for (const FormatCase& c : kFormatCases) EXPECT_EQ(formatBytes(c.bytes), c.text) << c.bytes;
}

TEST(FormatBytes, DecimalPointIgnoresTheUserLocale) {
    // A locale whose decimal separator is a comma: an installed one, or one compiled into a
    // scratch folder. The child process keeps the locale change away from the other tests.
    TempDir tmp;
    const std::string compile =
        "localedef -i de_DE -f UTF-8 '" + tmp.path() + "/de_DE.UTF-8' >/dev/null 2>&1";
    const test::ChildResult child = test::runInChild([&](std::int64_t out[4]) {
        const char* active = std::setlocale(LC_ALL, "de_DE.UTF-8");
        if (active == nullptr && std::system(compile.c_str()) == 0) {
            ::setenv("LOCPATH", tmp.path().c_str(), 1);
            active = std::setlocale(LC_ALL, "de_DE.UTF-8");
        }
        if (active == nullptr) return;
        char printed[16];
        std::snprintf(printed, sizeof printed, "%.1f", 1.5);
        out[0] = std::string(printed) == "1,5";  // the locale really uses a comma
        out[1] = formatBytes(1'234'567'890) == "1.23 GB";
        out[2] = formatBytes(5'368'709'120) == "5.37 GB";
    });
    ASSERT_TRUE(child.ok);
    if (child.values[0] != 1) GTEST_SKIP() << "no locale with a decimal comma could be set up";
    EXPECT_EQ(child.values[1], 1);
    EXPECT_EQ(child.values[2], 1);
}

class MeasureTest : public ::testing::Test {
  protected:
    TempDir tmp;
};

TEST_F(MeasureTest, CountsRegularFilesOnlyAndNeverFollowsLinks) {
    writeFile(tmp / "outside/big", 1'000'000);
    makeDirs(tmp / "outside/folder");
    writeFile(tmp / "outside/folder/more", 5'000);
    writeFile(tmp / "c/ten", 10);
    writeFile(tmp / "c/sub/.hidden", 20);
    makeLink(tmp / "outside/big", tmp / "c/link-to-file");
    makeLink(tmp / "outside/folder", tmp / "c/sub/link-to-folder");
    makeLink(tmp / "nowhere", tmp / "c/dangling");
    ASSERT_EQ(::mkfifo((tmp / "c/fifo").c_str(), 0600), 0);
    EXPECT_EQ(directorySize(tmp / "c"), 30);
    EXPECT_EQ(itemSize(tmp / "c"), 30);
    EXPECT_EQ(itemSize(tmp / "c/"), 30);
}

TEST_F(MeasureTest, MissingEmptyAndNonFolderPaths) {
    makeDirs(tmp / "empty");
    writeFile(tmp / "file", 123);
    EXPECT_EQ(directorySize(tmp / "missing"), 0);
    EXPECT_EQ(directorySize(tmp / "empty"), 0);
    EXPECT_EQ(directorySize(tmp / "file"), 0);
    EXPECT_EQ(directorySize(""), 0);
    EXPECT_EQ(itemSize(tmp / "file"), 123);
    EXPECT_EQ(itemSize(tmp / "missing"), 0);
    EXPECT_EQ(itemSize(tmp / "empty"), 0);
    EXPECT_EQ(itemSize(""), 0);
}

TEST_F(MeasureTest, APathThatIsALinkCountsNothing) {
    writeFile(tmp / "target/data", 4'000);
    writeFile(tmp / "file", 700);
    makeLink(tmp / "target", tmp / "folder-link");
    makeLink(tmp / "file", tmp / "file-link");
    makeLink(tmp / "nowhere", tmp / "dangling");
    for (const char* link : {"folder-link", "file-link", "dangling"}) {
        EXPECT_EQ(itemSize(tmp / link), 0) << link;
        EXPECT_EQ(directorySize(tmp / link), 0) << link;
    }
}

TEST_F(MeasureTest, LargeTreeIsCountedExactlyOnce) {
    // Big enough for the second thread and for a flat folder to be split into batches.
    std::int64_t expected = 0;
    for (int i = 0; i < 3'000; ++i) {
        const std::int64_t size = (i * 37) % 300;
        writeFile(tmp / ("c/Cache_Data/f_" + std::to_string(i) + "_padding_padding"), size);
        expected += size;
    }
    for (int d = 0; d < 200; ++d) {
        for (int f = 0; f < 10; ++f) {
            const std::int64_t size = d + f;
            writeFile(tmp / ("c/js/" + std::to_string(d % 7) + "/" + std::to_string(d) + "/" +
                             std::to_string(f)),
                      size);
            expected += size;
        }
    }
    ASSERT_EQ(test::referenceSize(tmp / "c"), expected);
    for (int round = 0; round < 3; ++round) EXPECT_EQ(directorySize(tmp / "c"), expected);
}

TEST_F(MeasureTest, UnreadableFoldersArePassedOverSilently) {
    writeFile(tmp / "c/readable", 40);
    writeFile(tmp / "c/locked/secret", 1'000);
    writeFile(tmp / "c/after/z", 2);
    test::giveToNobody(tmp.path());
    ASSERT_EQ(::chmod((tmp / "c/locked").c_str(), 0), 0);
    const std::string folder = tmp / "c";
    const test::ChildResult child =
        test::runInChild([&](std::int64_t out[4]) { out[0] = directorySize(folder); }, true);
    ASSERT_TRUE(child.ok);
    EXPECT_EQ(child.values[0], 42);
}

TEST(FreeDiskSpace, IsTheSpaceAvailableToTheUserOnTheHomeVolume) {
    TempDir tmp;
    test::ScopedHome home(tmp.path());
    struct statvfs vfs;
    ASSERT_EQ(::statvfs(tmp.path().c_str(), &vfs), 0);
    const auto expected = static_cast<std::int64_t>(vfs.f_bavail * vfs.f_frsize);
    // Other processes write to the same volume meanwhile; allow a little drift.
    EXPECT_NEAR(static_cast<double>(freeDiskSpace()), static_cast<double>(expected), 64e6);
    EXPECT_GT(freeDiskSpace(), 0);
}

TEST(FreeDiskSpace, FailedQueryGivesZero) {
    test::ScopedHome home("/nonexistent/sweepkin/home");
    EXPECT_EQ(freeDiskSpace(), 0);
}

}  // namespace
}  // namespace sweepkin
