// The cleanup report: exact layout, whole-file replacement, and failures that leave the earlier
// report as it was.

#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <functional>

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

// Runs the writer in a child process (so limits and identities stay there) and returns its result.
bool writeInChild(const std::string& report, const std::function<void()>& prepare) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        prepare();
        _exit(writeCleanupReport(report, {std::string(5000, 'x')}, 1, 2, 3) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(CleanupReport, FailedWriteLeavesTheEarlierReportAndNoTemporaryFile) {
    struct Case {
        const char* what;
        std::function<void()> prepare;  // in the child, just before the write
        std::function<void(const TempDir&)> setUp;
    };
    const std::vector<Case> cases = {
        {"file size limit reached mid-write",
         [] {
             std::signal(SIGXFSZ, SIG_IGN);
             const rlimit limit{100, 100};
             ::setrlimit(RLIMIT_FSIZE, &limit);
         },
         [](const TempDir&) {}},
        {"folder not writable",
         [] {
             if (::geteuid() != 0) return;
             // Root writes anywhere; an ordinary user may not write into root's read-only folder.
             // A failed drop exits with success, which the test reports as a failure.
             if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                 ::setresuid(65534, 65534, 65534) != 0) {
                 _exit(0);
             }
         },
         [](const TempDir& tmp) {
             fs::permissions(tmp.path(), fs::perms(0755));
             fs::permissions(tmp / "dir", fs::perms(0555));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        const std::string report = tmp / "dir/report.md";
        writeText(report, "the earlier report\n");
        c.setUp(tmp);
        EXPECT_FALSE(writeInChild(report, c.prepare));
        EXPECT_EQ(readText(report), "the earlier report\n");
        fs::permissions(tmp / "dir", fs::perms(0755));
        EXPECT_EQ(folderEntries(tmp / "dir"), std::vector<std::string>{"report.md"});
    }
}

TEST(CleanupReport, UnusableDestinationsFailWithoutLeftovers) {
    TempDir tmp;
    fs::create_directories(tmp / "dir/report.md/inside");
    EXPECT_FALSE(writeCleanupReport(tmp / "dir/report.md", {"x"}, 0, 0, 0));
    EXPECT_EQ(folderEntries(tmp / "dir"), std::vector<std::string>{"report.md"});
    EXPECT_TRUE(fs::exists(tmp / "dir/report.md/inside"));

    writeText(tmp / "file", "not a folder");
    EXPECT_FALSE(writeCleanupReport(tmp / "file/sub/report.md", {"x"}, 0, 0, 0));
    EXPECT_EQ(readText(tmp / "file"), "not a folder");
}

}  // namespace
}  // namespace sweepkin::testing
