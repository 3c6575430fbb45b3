#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/sizes.h"
#include "tests/support/tree.h"

namespace sweepkin {
namespace {

using namespace hardening;

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
    ScratchDir tmp;
    const std::string compile =
        "localedef -i de_DE -f UTF-8 '" + tmp.path() + "/de_DE.UTF-8' >/dev/null 2>&1";
    const ChildOutcome child = runInChild([&]() -> std::string {
        const char* active = std::setlocale(LC_ALL, "de_DE.UTF-8");
        if (active == nullptr && std::system(compile.c_str()) == 0) {
            ::setenv("LOCPATH", tmp.path().c_str(), 1);
            active = std::setlocale(LC_ALL, "de_DE.UTF-8");
        }
        char printed[16];
        std::snprintf(printed, sizeof printed, "%.1f", 1.5);
        if (active == nullptr || std::string(printed) != "1,5") return "skip";
        return formatBytes(1'234'567'890) + " " + formatBytes(5'368'709'120);
    });
    ASSERT_TRUE(child.exitedNormally);
    if (child.output == "skip") GTEST_SKIP() << "no locale with a decimal comma could be set up";
    EXPECT_EQ(child.output, "1.23 GB 5.37 GB");
}

class MeasureTest : public ::testing::Test {
  protected:
    ScratchDir tmp;
};

// Links, fifos and sockets inside a tree are measured in tests/hardening.
TEST_F(MeasureTest, MissingEmptyFileAndLinkPaths) {
    makeDirs(tmp / "empty");
    writeFile(tmp / "file", 123);
    writeFile(tmp / "c/ten", 10);
    writeFile(tmp / "c/sub/.hidden", 20);
    ASSERT_EQ(::symlink((tmp / "c").c_str(), (tmp / "folder-link").c_str()), 0);
    ASSERT_EQ(::symlink((tmp / "file").c_str(), (tmp / "file-link").c_str()), 0);
    ASSERT_EQ(::symlink((tmp / "nowhere").c_str(), (tmp / "dangling").c_str()), 0);
    struct Case {
        std::string path;
        std::int64_t item, directory;
    };
    const Case cases[] = {
        {tmp / "c", 30, 30},         {tmp / "c/", 30, 30},      {tmp / "file", 123, 0},
        {tmp / "missing", 0, 0},     {tmp / "empty", 0, 0},     {"", 0, 0},
        {tmp / "folder-link", 0, 0}, {tmp / "file-link", 0, 0}, {tmp / "dangling", 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(itemSize(c.path), c.item) << c.path;
        EXPECT_EQ(directorySize(c.path), c.directory) << c.path;
    }
}

TEST_F(MeasureTest, LargeTreeIsCountedExactlyOnce) {
    // Big enough for the second thread and for a flat folder to be split into batches.
    std::int64_t expected = 0;
    for (int i = 0; i < 3'000; ++i) {
        expected += writeFile(tmp / ("c/Cache_Data/f_" + std::to_string(i) + "_padding_padding"),
                              (i * 37) % 300);
    }
    for (int d = 0; d < 200; ++d) {
        for (int f = 0; f < 10; ++f) {
            expected += writeFile(tmp / ("c/js/" + std::to_string(d % 7) + "/" + std::to_string(d) +
                                         "/" + std::to_string(f)),
                                  d + f);
        }
    }
    for (int round = 0; round < 3; ++round) EXPECT_EQ(directorySize(tmp / "c"), expected);
}

TEST_F(MeasureTest, UnreadableFoldersArePassedOverSilently) {
    writeFile(tmp / "c/readable", 40);
    writeFile(tmp / "c/locked/secret", 1'000);
    writeFile(tmp / "c/after/z", 2);
    giveToNobody(tmp.path());
    ASSERT_EQ(::chmod((tmp / "c/locked").c_str(), 0), 0);
    const std::string folder = tmp / "c";
    const ChildOutcome child = runInChild([&] {
        if (::geteuid() == 0 && !dropPrivileges()) return std::string("cannot drop privileges");
        return std::to_string(directorySize(folder));
    });
    EXPECT_EQ(child.output, "42");
}

TEST(FreeDiskSpace, IsTheSpaceAvailableToTheUserOnTheHomeVolume) {
    ScratchDir tmp;
    ScopedHome home(tmp.path());
    struct statvfs vfs;
    ASSERT_EQ(::statvfs(tmp.path().c_str(), &vfs), 0);
    const auto expected = static_cast<std::int64_t>(vfs.f_bavail * vfs.f_frsize);
    // Other processes write to the same volume meanwhile; allow a little drift.
    EXPECT_NEAR(static_cast<double>(freeDiskSpace()), static_cast<double>(expected), 64e6);
    EXPECT_GT(freeDiskSpace(), 0);
}

TEST(FreeDiskSpace, FailedQueryGivesZero) {
    ScopedHome home("/nonexistent/sweepkin/home");
    EXPECT_EQ(freeDiskSpace(), 0);
}

}  // namespace
}  // namespace sweepkin
