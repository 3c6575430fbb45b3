// The cleanup report's exact layout and whole-file replacement; failures that must leave the
// earlier report as it was are in tests/hardening.

#include <unistd.h>

#include <gtest/gtest.h>

#include <ctime>

#include "ops/cleanup_report.h"
#include "tests/cli/test_support.h"

namespace sweepkin::testing {
namespace {

std::string localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

TEST(CleanupReport, LayoutUsesLocalTimeAndSizeTexts) {
    // Fourteen hours east of UTC, so a report stamped in UTC cannot pass by accident.
    ::setenv("TZ", "XYZ-14", 1);
    ::tzset();
    TempDir tmp;
    const std::string report = tmp / "r.md";
    struct Case {
        std::vector<std::string> lines;
        std::vector<std::string> expectedBody;  // file lines 5 onwards
    };
    const std::vector<Case> cases = {
        {{"Google Chrome: cleared 1.23 GB",
          "Safari: partly cleared 0 B — some items need Full Disk Access"},
         {"- Google Chrome: cleared 1.23 GB",
          "- Safari: partly cleared 0 B — some items need Full Disk Access", "",
          "**Total cleared:** 1.23 GB", "", "**Free disk now:** 6.23 GB  (was 5.00 GB)"}},
        {{}, {"", "**Total cleared:** 1.23 GB", "", "**Free disk now:** 6.23 GB  (was 5.00 GB)"}},
    };
    for (const Case& c : cases) {
        const std::string earliest = localNow();
        ASSERT_TRUE(writeCleanupReport(report, c.lines, 1234567890, 5000000000, 6234567890));
        const std::string latest = localNow();
        const std::string text = readText(report);
        ASSERT_EQ(text.back(), '\n');
        const auto lines = splitLines(text);
        ASSERT_EQ(lines.size(), 4 + c.expectedBody.size()) << text;
        EXPECT_EQ(lines[0], "# Sweepkin — Cleanup Report");
        EXPECT_EQ(lines[1], "");
        ASSERT_EQ(lines[2].size(), 23u) << lines[2];
        const std::string stamp = lines[2].substr(2, 19);
        EXPECT_EQ("**" + stamp + "**", lines[2]);
        EXPECT_TRUE(earliest <= stamp && stamp <= latest) << stamp << " not local time";
        EXPECT_EQ(lines[3], "");
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 4, lines.end()), c.expectedBody);
    }
}

TEST(CleanupReport, CreatesMissingFoldersAndReplacesRatherThanAppends) {
    TempDir tmp;
    ::umask(022);
    const std::string report = tmp / "a/b c/d/report.md";
    ASSERT_TRUE(writeCleanupReport(report, {"first run line"}, 0, 0, 0));
    EXPECT_EQ(fs::status(tmp / "a/b c").permissions(), fs::perms(0755));
    ASSERT_TRUE(writeCleanupReport(report, {"second run line"}, 0, 0, 0));
    const std::string text = readText(report);
    EXPECT_EQ(text.find("first run line"), std::string::npos);
    EXPECT_NE(text.find("- second run line\n"), std::string::npos);
    EXPECT_EQ(text.find("# Sweepkin"), text.rfind("# Sweepkin"));
    EXPECT_EQ(folderEntries(tmp / "a/b c/d"), std::vector<std::string>{"report.md"});
}

TEST(CleanupReport, UnusableDestinationsFailWithoutLeftovers) {
    TempDir tmp;
    fs::create_directories(tmp / "dir/report.md/inside");
    EXPECT_FALSE(writeCleanupReport(tmp / "dir/report.md", {"x"}, 0, 0, 0));
    EXPECT_EQ(folderEntries(tmp / "dir"), std::vector<std::string>{"report.md"});
    EXPECT_TRUE(fs::exists(tmp / "dir/report.md/inside"));
}

}  // namespace
}  // namespace sweepkin::testing
