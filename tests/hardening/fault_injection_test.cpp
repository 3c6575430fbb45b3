// The report, the activity log and the settings under faults: nothing crashes, an earlier
// report survives whole, and no log line is torn.

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QString>
#include <chrono>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ops/activity_log.h"
#include "ops/cleanup_report.h"
#include "ops/settings.h"
#include "tests/support/tree.h"

namespace sweepkin::hardening {
namespace {

std::vector<std::string> targetLines(char tag, int count, std::size_t width) {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        std::string line = "Target " + std::string(1, tag) + std::to_string(i) + ": cleared ";
        line.resize(width, tag);
        lines.push_back(line);
    }
    return lines;
}

// A whole report for exactly these target lines: title, date, the lines, total and free space.
bool isCompleteReport(const std::string& text, const std::vector<std::string>& lines) {
    if (text.empty() || text.back() != '\n') return false;
    const std::vector<std::string> got = splitLines(text);
    if (got.size() != lines.size() + 8) return false;
    if (got[0] != "# Sweepkin — Cleanup Report" || !got[1].empty()) return false;
    if (!got[2].starts_with("**") || !got[2].ends_with("**") || !got[3].empty()) return false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (got[4 + i] != "- " + lines[i]) return false;
    }
    const std::size_t n = lines.size();
    return got[4 + n].empty() && got[5 + n].starts_with("**Total cleared:** ") &&
           got[6 + n].empty() && got[7 + n].starts_with("**Free disk now:** ") &&
           got[7 + n].ends_with(")");
}

// Temporary files a report writer left beside the report.
std::vector<std::string> leftovers(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name != "last_cleanup_report.md" && name.find("last_cleanup_report.md") != name.npos) {
            found.push_back(name);
        }
    }
    return found;
}

class FaultInjection : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.path().empty());
        root_ = scratch_.path();
        ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
        folder_ = root_ + "/Sweepkin";
        reportPath_ = folder_ + "/last_cleanup_report.md";
        oldLines_ = targetLines('o', 3, 60);
        ASSERT_TRUE(writeCleanupReport(reportPath_, oldLines_, 1000, 2000, 3000));
        oldReport_ = readText(reportPath_);
        ASSERT_TRUE(isCompleteReport(oldReport_, oldLines_));
    }

    void expectOldReportIntact() const {
        EXPECT_EQ(readText(reportPath_), oldReport_) << "the earlier report changed";
        EXPECT_TRUE(leftovers(folder_).empty()) << "a temporary file was left behind";
    }

    ScratchDir scratch_;
    std::string root_, folder_, reportPath_, oldReport_;
    std::vector<std::string> oldLines_;
};

TEST_F(FaultInjection, ReportWithoutRoomOrPermissionKeepsTheEarlierReport) {
    const bool root = ::geteuid() == 0;
    for (const std::string fault : {"file size limit", "no permission", "full file system"}) {
        SCOPED_TRACE(fault);
        if (fault == "full file system" && !root) continue;  // mounting a small tmpfs needs root
        if (fault == "no permission" && !root) ASSERT_EQ(::chmod(folder_.c_str(), 0500), 0);
        const ChildOutcome outcome = runInChild([&]() -> std::string {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{4096, 4096};
            if (fault == "file size limit" && ::setrlimit(RLIMIT_FSIZE, &limit) != 0) return "";
            if (fault == "no permission" && root && !dropPrivileges()) return "cannot drop";
            if (fault == "full file system") {
                if (::unshare(CLONE_NEWNS) != 0 ||
                    ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                    ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, "size=64k") != 0) {
                    return "skip";
                }
                if (!writeCleanupReport(reportPath_, oldLines_, 1, 2, 3)) return "no old report";
                // Fill what is left, page by page, until the file system refuses.
                Fd filler(
                    ::open((folder_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
                const std::string page(4096, 'f');
                while (::write(filler.get(), page.data(), page.size()) > 0) {
                }
            }
            const std::string old = readText(reportPath_);
            std::string verdict =
                writeCleanupReport(reportPath_, targetLines('n', 500, 100), 1, 2, 3) ? "written"
                                                                                     : "failed";
            if (readText(reportPath_) != old) verdict += " changed";
            if (!leftovers(folder_).empty()) verdict += " leftover";
            return verdict;
        });
        ::chmod(folder_.c_str(), 0755);
        ASSERT_TRUE(outcome.exitedNormally) << "signal " << outcome.signal;
        if (outcome.output == "skip") continue;
        EXPECT_EQ(outcome.output, "failed");
        expectOldReportIntact();
    }
}

// Writers killed at random moments: the report is always a whole old or a whole new one, and
// the next successful write leaves no temporary file of the killed writers behind.
TEST_F(FaultInjection, TwoHundredKilledReportWriters) {
    const std::vector<std::string> linesA = targetLines('A', 5000, 100);
    const std::vector<std::string> linesB = targetLines('B', 5000, 100);

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(writeCleanupReport(reportPath_, linesA, 1, 2, 3));
    // Kill delays spread over about two writes, so kills land before, inside and after writes.
    const auto oneWrite = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    const long spread = std::max<long>(2 * oneWrite.count(), 2000);

    std::mt19937 random(20261206);
    std::uniform_int_distribution<long> delay(0, spread);
    int torn = 0;
    for (int kill = 0; kill < 200; ++kill) {
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (unsigned round = 0;; ++round) {
                writeCleanupReport(reportPath_, round % 2 == 0 ? linesB : linesA, 4, 5, 6);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        const std::string text = readText(reportPath_);
        if (!isCompleteReport(text, linesA) && !isCompleteReport(text, linesB)) ++torn;
    }
    EXPECT_EQ(torn, 0) << "kills left a partial report";

    const std::size_t stale = leftovers(folder_).size();
    RecordProperty("stale_temporaries_after_kills", static_cast<int>(stale));
    ASSERT_TRUE(writeCleanupReport(reportPath_, oldLines_, 1, 2, 3));
    EXPECT_TRUE(isCompleteReport(readText(reportPath_), oldLines_));
    EXPECT_TRUE(leftovers(folder_).empty())
        << stale << " temporary files of killed writers were still there after the next write";
}

class ActivityLogFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.path().empty());
        root_ = scratch_.path();
        ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
        folder_ = root_ + "/Logs";
        logPath_ = folder_ + "/Sweepkin.log";
    }

    // Every line stamped and whole: "[yyyy-MM-dd HH:mm:ss] message\n".
    static bool allLinesWhole(const std::string& text) {
        if (!text.empty() && text.back() != '\n') return false;
        for (const std::string& line : splitLines(text)) {
            if (line.size() < 22 || line[0] != '[' || line[20] != ']' || line[21] != ' ') {
                return false;
            }
        }
        return true;
    }

    ScratchDir scratch_;
    std::string root_, folder_, logPath_;
};

// The log grows until there is no room (a file-size limit, or a full file system when running as
// root) and keeps being asked for lines: earlier lines stay, and no line is cut short.
TEST_F(ActivityLogFaults, NoRoomNeverLeavesATornLine) {
    makeDirs(folder_);
    for (int i = 0; i < 3; ++i) appendLogLine(logPath_, 5'242'880, QStringLiteral("before"));
    const std::string before = readText(logPath_);
    ASSERT_TRUE(allLinesWhole(before));
    for (const bool fullDisk : {false, true}) {
        SCOPED_TRACE(fullDisk ? "full file system" : "file size limit");
        if (fullDisk && ::geteuid() != 0) continue;  // mounting a small tmpfs needs root
        const ChildOutcome outcome = runInChild([&]() -> std::string {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{before.size() + 10, before.size() + 10};  // not a whole line
            if (!fullDisk && ::setrlimit(RLIMIT_FSIZE, &limit) != 0) return "no rlimit";
            if (fullDisk && (::unshare(CLONE_NEWNS) != 0 ||
                             ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                             ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, "size=8k") != 0)) {
                return "skip";
            }
            for (int i = 0; i < (fullDisk ? 400 : 3); ++i) {
                appendLogLine(logPath_, 5'242'880,
                              QStringLiteral("Cleaned 3 target(s), freed 1.23 GB."));
            }
            return readText(logPath_);
        });
        ASSERT_TRUE(outcome.exitedNormally) << "signal " << outcome.signal;
        if (outcome.output == "skip") continue;
        if (fullDisk) {
            EXPECT_LT(outcome.output.size(), 400u * 55u) << "the file system never filled up";
        } else {
            EXPECT_TRUE(outcome.output.starts_with(before)) << "earlier lines were damaged";
        }
        EXPECT_TRUE(allLinesWhole(outcome.output)) << "a line was cut short:\n" << outcome.output;
    }
}

TEST_F(ActivityLogFaults, NoPermissionDropsLinesQuietly) {
    const bool root = ::geteuid() == 0;
    makeDirs(folder_);
    const std::string existing = "[2026-01-01 00:00:00] earlier line\n";
    writeText(logPath_, existing);
    if (!root) {
        ASSERT_EQ(::chmod(logPath_.c_str(), 0444), 0);
        ASSERT_EQ(::chmod(folder_.c_str(), 0555), 0);
    }
    const ChildOutcome outcome = runInChild([&] {
        if (root && !dropPrivileges()) return std::string("cannot drop privileges");
        appendLogLine(logPath_, 5'242'880, QStringLiteral("dropped"));
        // Too large, but the rotation cannot happen either.
        appendLogLine(logPath_, 1, QStringLiteral("dropped too"));
        return std::string("done");
    });
    ::chmod(folder_.c_str(), 0755);
    ::chmod(logPath_.c_str(), 0644);
    ASSERT_TRUE(outcome.exitedNormally) << "signal " << outcome.signal;
    EXPECT_EQ(outcome.output, "done");
    EXPECT_EQ(readText(logPath_), existing);
    EXPECT_FALSE(exists(logPath_ + ".old"));
}

TEST_F(ActivityLogFaults, FolderThatDisappearsBetweenLines) {
    ActivityLog log(logPath_, 5'242'880);
    log.logActivity(QStringLiteral("one"));
    log.waitForIdle();
    ASSERT_TRUE(exists(logPath_));

    removeTree(folder_);
    log.logActivity(QStringLiteral("two"));
    log.waitForIdle();
    const std::string text = readText(logPath_);
    EXPECT_TRUE(allLinesWhole(text));
    EXPECT_TRUE(text.ends_with("] two\n")) << "the folder was not recreated: " << text;

    // A file where the folder should be: the line is dropped, nothing else happens.
    removeTree(folder_);
    writeText(folder_, "in the way");
    log.logActivity(QStringLiteral("three"));
    log.waitForIdle();
    EXPECT_EQ(readText(folder_), "in the way");
}

class CorruptSettings : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.path().empty());
        iniPath_ = scratch_.path() + "/Sweepkin.conf";
    }

    ScratchDir scratch_;
    std::string iniPath_;
};

std::string randomBytes(std::uint32_t seed, std::size_t size, bool withNuls) {
    std::mt19937 random(seed);
    std::string bytes;
    while (bytes.size() < size) {
        const char c = static_cast<char>(random() & 0xff);
        // No "=": a key line could form by chance and turn the garbage into a real setting.
        if (c == '=' || (!withNuls && c == '\0')) continue;
        bytes += c;
    }
    return bytes;
}

TEST_F(CorruptSettings, GarbageReadsAsDefaultsAndStaysWritable) {
    using namespace std::string_literals;
    struct Case {
        const char* what;
        std::string content;
    };
    const std::vector<Case> cases = {
        {"random bytes", randomBytes(1, 4096, false)},
        {"random bytes with NULs", randomBytes(2, 4096, true)},
        {"one megabyte without a line break", std::string(1 << 20, '[')},
        {"invalid UTF-8 around a section", "\xff\xfe[General]\xc3\x28\n\xed\xa0\x80\n"s},
        {"values of the wrong kind",
         "[General]\nlastClean=yesterday\nctCleans=many\nctPanelOpens=1e99\n"
         "acceptedEULAv1=perhaps\ndisableAnalytics=2\nlastHeartbeat=@DateTime(\\0\\x1\\x2)\n"s},
        {"broken serialised values",
         "[General]\nlastClean=@Variant(\\0\\0\\0\\xff\\xff\\xff\\xff)\n"
         "installID=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\nctCleans=@Variant(\\0\\0\\0\\x4\\0)\n"
         "didInitialLoginSetup=@ByteArray(\\xff)\n"s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeText(iniPath_, c.content);
        {
            SettingsStore store(QString::fromStdString(iniPath_));
            EXPECT_FALSE(store.dateValue(keys::lastClean).has_value());
            EXPECT_FALSE(store.dateValue(keys::lastHeartbeat).has_value());
            EXPECT_EQ(store.intValue(keys::ctCleans), 0);
            EXPECT_EQ(store.intValue(keys::ctPanelOpens), 0);
            EXPECT_FALSE(store.boolValue(keys::acceptedEULAv1));
            EXPECT_FALSE(store.boolValue(keys::disableAnalytics));
            EXPECT_FALSE(store.boolValue(keys::didInitialLoginSetup));
            EXPECT_FALSE(store.stringValue(keys::installID).has_value());
            EXPECT_EQ(store.increment(keys::ctCleans), 1);
            store.setBool(keys::acceptedEULAv1, true);
        }
        SettingsStore reopened(QString::fromStdString(iniPath_));
        EXPECT_EQ(reopened.intValue(keys::ctCleans), 1);
        EXPECT_TRUE(reopened.boolValue(keys::acceptedEULAv1));
        ::unlink(iniPath_.c_str());
    }
}

}  // namespace
}  // namespace sweepkin::hardening
