// Runs the built program with a temporary HOME and checks everything it prints and writes.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <set>

#include "tests/cli/test_support.h"

namespace sweepkin::testing {
namespace {

const std::string kReport = "Library/Application Support/Sweepkin/last_cleanup_report.md";
const std::string kCloudKit = "Library/Caches/CloudKit";
const char* const kSizeText = R"((-?\d+ B|\d+ KB|\d+ MB|\d+\.\d\d GB))";

struct RunResult {
    int status = -1;  // the exit status, or 128 + the signal that ended the program
    std::string out;
};

// Runs `argv` with exactly `env` and collects its standard output; `readerGoesAway` closes the
// pipe at once. A program still running after half a minute (a menu-bar mode that found a
// display after all) is killed. No argument here holds a single quote.
RunResult run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
              bool readerGoesAway = false) {
    std::string command = "exec env -i";
    for (const auto& v : env) command += " '" + v + "'";
    command += " timeout -s KILL 30";
    for (const auto& a : argv) command += " '" + a + "'";
    RunResult result;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    for (std::size_t n; !readerGoesAway && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        result.out.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// The complete self-test output for a HOME in which the targets named in `found` have the given
// text after their name and every other target has nothing.
std::string selfTestOutput(const std::map<std::string, std::string>& found = {},
                           const std::string& licence = "PASS") {
    std::string text = "Sweepkin — self test (DRY RUN, deletes nothing)\n" + std::string(56, '=') +
                       "\nCaches found (only those > 1 MB are shown in the panel):\n";
    for (const char* name :
         {"iCloud (CloudKit) cache", "Google Chrome", "Claude (desktop app)", "Safari", "Spotify",
          "Slack", "Microsoft Edge", "Visual Studio Code"}) {
        const auto it = found.find(name);
        text += std::string("  · ") + name + ": " +
                (it == found.end() ? "not installed / no cache" : it->second) + "\n";
    }
    text += "\nSAFETY GUARD (isSafeCachePath) — must ALLOW caches, must REFUSE data:\n";
    for (const char* path : {"~/Library/Caches/CloudKit", "~/Library/Caches/com.apple.Safari",
                             "~/Library/Containers/com.apple.Safari/Data/Library/Caches",
                             "~/Library/Application Support/Google/Chrome/Default/Cache",
                             "~/Library/Application Support/Code/GPUCache",
                             "~/Library/Application Support/Slack/Service Worker/CacheStorage"}) {
        text += std::string("  PASS  allow   ") + path + "\n";
    }
    for (const char* path : {"~/Library/Application Support/Google/Chrome/Default",
                             "~/Library/Application Support/Google/Chrome/Default/Cookies",
                             "~/Library/Application Support/Google/Chrome/Default/History",
                             "~/Library/Application Support/Google/Chrome/Default/Login Data",
                             "~/Library/Application Support/Google/Chrome/Default/Bookmarks",
                             "~/Library/Application Support/Google/Chrome/Default/Local Storage",
                             "~/Library/Application Support/Claude/claude-code-sessions",
                             "~/Library/Safari/History.db", "~/Documents", "~"}) {
        text += std::string("  PASS  refuse  ") + path + "\n";
    }
    return text + "\n  " + licence + "  license text bundled\n\n✓ ALL SAFETY CHECKS PASSED\n";
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(tmp_.path().empty());
        // Menu-bar mode may abort without a display; that must not leave core files behind.
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        fs::create_directory(home_);
    }

    RunResult sweepkin(std::vector<std::string> args, const std::string& binary = SWEEPKIN_BINARY,
                       std::vector<std::string> prefix = {}, bool readerGoesAway = false) {
        prefix.push_back(binary);
        prefix.insert(prefix.end(), args.begin(), args.end());
        // No display: should menu-bar mode start, it fails at once instead of waiting for a user.
        return run(prefix,
                   {"HOME=" + home_, "PATH=/usr/local/bin:/usr/bin:/bin", "LANG=C.UTF-8",
                    "QT_QPA_PLATFORM=xcb"},
                   readerGoesAway);
    }

  public:
    std::string home(const std::string& relative) const { return home_ + "/" + relative; }

  protected:
    // The report's nine lines for one target line; its free-disk figures are the ones printed.
    void expectReport(const std::string& line, const std::string& total,
                      const std::string& freeLine) {
        const std::string text = readText(home(kReport));
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n');
        const auto lines = splitLines(text);
        ASSERT_EQ(lines.size(), 9u) << text;
        EXPECT_EQ(lines[0], "# Sweepkin — Cleanup Report");
        EXPECT_EQ(lines[1], "");
        EXPECT_TRUE(
            std::regex_match(lines[2], std::regex(R"(\*\*\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\*\*)")))
            << lines[2];
        EXPECT_EQ(lines[3], "");
        EXPECT_EQ(lines[4], "- " + line);
        EXPECT_EQ(lines[5], "");
        EXPECT_EQ(lines[6], "**Total cleared:** " + total);
        EXPECT_EQ(lines[7], "");
        const std::string printed = "Free disk now: ";
        ASSERT_TRUE(freeLine.starts_with(printed)) << freeLine;
        EXPECT_EQ(lines[8], "**Free disk now:** " + freeLine.substr(printed.size()));
    }

    // Splits the clear's output into its lines and checks the fixed first and last two.
    std::vector<std::string> clearLines(const RunResult& result, std::size_t count) {
        const auto lines = splitLines(result.out);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.back(), '\n');
        if (lines.size() != count) {
            ADD_FAILURE() << result.out;
            return std::vector<std::string>(count);
        }
        EXPECT_EQ(lines.front(), "Sweepkin — clearing iCloud (CloudKit) cache for real");
        EXPECT_TRUE(std::regex_match(lines[count - 2],
                                     std::regex(std::string("Free disk now: ") + kSizeText +
                                                R"(  \(was )" + kSizeText + R"(\))")))
            << lines[count - 2];
        EXPECT_EQ(lines.back(), "Report written → " + home(kReport));
        return lines;
    }

    // Everything present before is unchanged, except the CloudKit folder; the only new entries
    // are the report and the folders that hold it.
    void expectOnlyCloudKitAndReportChanged(const std::map<std::string, std::string>& before) {
        const auto after = snapshot(home_);
        for (const auto& [path, state] : before) {
            if (path == kCloudKit || path.starts_with(kCloudKit + "/")) continue;
            const auto it = after.find(path);
            EXPECT_TRUE(it != after.end() && it->second == state)
                << path << " changed: " << state << " -> "
                << (it == after.end() ? "gone" : it->second);
        }
        const std::set<std::string> reportPaths = {"Library", "Library/Application Support",
                                                   "Library/Application Support/Sweepkin", kReport};
        for (const auto& [path, state] : after) {
            EXPECT_TRUE(before.contains(path) || reportPaths.contains(path)) << path << " created";
        }
    }

    TempDir tmp_;
    std::string home_ = tmp_ / "home";
};

TEST_F(CliTest, SelfTestTargetLinesMeasureAndCountExpandedFolders) {
    struct Case {
        const char* what;
        std::function<void(const CliTest&)> build;
        std::map<std::string, std::string> found;
    };
    const std::string chrome = "Library/Application Support/Google/Chrome/";
    const std::vector<Case> cases = {
        {"an empty home finds nothing", [](const CliTest&) {}, {}},
        {"exactly 1,000,000 bytes is listed",
         [](const CliTest& t) { makeFile(t.home("Library/Caches/com.spotify.client/d"), 1000000); },
         {{"Spotify", "1 MB  [WOULD LIST]  — 1 folder(s)"}}},
        {"one byte less is hidden",
         [](const CliTest& t) { makeFile(t.home("Library/Caches/com.spotify.client/d"), 999999); },
         {{"Spotify", "1000 KB  [hidden (<1 MB)]  — 1 folder(s)"}}},
        {"two browser profiles count twice and add up",
         [&](const CliTest& t) {
             makeFile(t.home(chrome + "Default/Cache/a"), 600000);
             makeFile(t.home(chrome + "Profile 1/Cache/sub/.b"), 500000);
             makeFile(t.home(chrome + "Guest Profile/Preferences"), 7000000);
             makeFile(t.home(chrome + "Local State"), 9000000);
         },
         {{"Google Chrome", "1 MB  [WOULD LIST]  — 2 folder(s)"}}},
        {"an empty cache folder still counts as a folder",
         [](const CliTest& t) {
             fs::create_directories(t.home("Library/Application Support/Slack/GPUCache"));
         },
         {{"Slack", "0 B  [hidden (<1 MB)]  — 1 folder(s)"}}},
        {"a cache that is a file is measured as a file; links are not followed",
         [](const CliTest& t) {
             makeFile(t.home("Library/Application Support/Code/CachedData"), 5000);
             makeFile(t.home("Documents/big"), 50000000);
             fs::create_directories(t.home("Library/Application Support/Code/Cache"));
             fs::create_symlink(t.home("Documents/big"),
                                t.home("Library/Application Support/Code/Cache/link"));
         },
         {{"Visual Studio Code", "5 KB  [hidden (<1 MB)]  — 2 folder(s)"}}},
        {"every target reports in catalogue order",
         [](const CliTest& t) {
             makeFile(t.home("Library/Caches/CloudKit/x/.y"), 2500);
             makeFile(t.home("Library/Caches/Microsoft Edge/e"), 1234567890);
             makeFile(t.home("Library/Application Support/Microsoft Edge/Default/GPUCache/g"), 10);
         },
         {{"iCloud (CloudKit) cache", "2 KB  [hidden (<1 MB)]  — 1 folder(s)"},
          {"Microsoft Edge", "1.23 GB  [WOULD LIST]  — 2 folder(s)"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(home_);
        fs::create_directory(home_);
        c.build(*this);
        const auto before = snapshot(home_);
        const RunResult result = sweepkin({"--selftest"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, selfTestOutput(c.found));
        EXPECT_EQ(snapshot(home_), before) << "the dry run changed the home folder";
    }
}

TEST_F(CliTest, OnlyExactFlagsChooseACommandLineMode) {
    struct Case {
        std::vector<std::string> args;
        bool selfTest;
    };
    const std::vector<Case> cases = {
        {{"--selftest"}, true},
        {{"--selftest", "--clear-cloudkit-now"}, true},
        {{"--clear-cloudkit-now", "--selftest"}, true},
        {{"-v", "--selftest", "extra"}, true},
        {{}, false},
        {{"--SELFTEST"}, false},
        {{"--selftest=1"}, false},
        {{" --selftest"}, false},
        {{"--clear-cloudkit-now=yes"}, false},
        {{"--Clear-CloudKit-Now"}, false},
    };
    makeFile(home(kCloudKit + "/blob"), 3000);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const RunResult result = sweepkin(c.args);
        if (c.selfTest) {
            EXPECT_EQ(result.status, 0);
            EXPECT_EQ(result.out, selfTestOutput({{"iCloud (CloudKit) cache",
                                                   "3 KB  [hidden (<1 MB)]  — 1 folder(s)"}}));
        } else {
            EXPECT_EQ(result.out.find("Sweepkin —"), std::string::npos) << result.out;
        }
        EXPECT_TRUE(fs::exists(home(kCloudKit + "/blob")));
        EXPECT_FALSE(fs::exists(home(kReport)));
    }
}

TEST_F(CliTest, LicenceLineFollowsTheShippedFile) {
    struct Case {
        const char* binary;   // where the program is placed, relative to a fresh folder
        const char* licence;  // where the agreement text is placed, or nullptr
        const char* mark;
    };
    const std::vector<Case> cases = {
        {"alone/sweepkin", nullptr, "WARN"},
        {"beside/sweepkin", "beside/BETA LICENSE (EULA).txt", "PASS"},
        {"prefix/bin/sweepkin", "prefix/share/sweepkin/BETA LICENSE (EULA).txt", "PASS"},
        {"wrong/bin/sweepkin", "wrong/share/BETA LICENSE (EULA).txt", "WARN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.binary);
        const std::string binary = tmp_ / c.binary;
        fs::create_directories(fs::path(binary).parent_path());
        fs::copy_file(SWEEPKIN_BINARY, binary);
        if (c.licence) writeText(tmp_ / c.licence, "terms\n");
        const RunResult result = sweepkin({"--selftest"}, binary);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, selfTestOutput({}, c.mark));
    }
}

TEST_F(CliTest, ClearWithoutCacheReportsNothingAndStillWritesTheReport) {
    const auto before = snapshot(home_);
    const RunResult result = sweepkin({"--clear-cloudkit-now"});
    const auto lines = clearLines(result, 4);
    EXPECT_EQ(lines[1], "CloudKit cache: nothing to clear");
    expectReport("iCloud (CloudKit) cache: cleared 0 B", "0 B", lines[2]);
    expectOnlyCloudKitAndReportChanged(before);
}

TEST_F(CliTest, ClearRemovesTheWholeFolderAndReplacesTheEarlierReport) {
    makeFile(home(kCloudKit + "/records/a"), 2000000);
    makeFile(home(kCloudKit + "/.hidden"), 1000000);
    makeFile(home("Documents/keep"), 4000000);
    fs::create_symlink(home("Documents/keep"), home(kCloudKit + "/records/link"));
    writeText(home(kReport), "# an earlier report\n- Safari: cleared 9 GB\n");
    const auto before = snapshot(home_);

    const RunResult result = sweepkin({"--clear-cloudkit-now"});
    const auto lines = clearLines(result, 5);
    EXPECT_EQ(lines[1], "CloudKit cache size before: 3 MB");
    EXPECT_EQ(lines[2], "  cleared 3 MB");
    EXPECT_FALSE(fs::exists(fs::symlink_status(home(kCloudKit))));
    EXPECT_EQ(fs::file_size(home("Documents/keep")), 4000000u);
    expectReport("iCloud (CloudKit) cache: cleared 3 MB", "3 MB", lines[3]);
    auto unchanged = before;
    unchanged.erase(kReport);  // replaced as a whole; checked above
    expectOnlyCloudKitAndReportChanged(unchanged);
}

TEST_F(CliTest, ClearThatCannotRemoveEverythingSaysSoAndStillExitsZero) {
    makeFile(home(kCloudKit + "/a"), 1000);
    makeFile(home(kCloudKit + "/locked/b"), 2000);
    std::vector<std::string> prefix;
    std::string binary = SWEEPKIN_BINARY;
    if (::geteuid() == 0) {
        // Root removes anything, so the program runs as an ordinary user owning this HOME.
        if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv is needed to drop root";
        fs::permissions(tmp_.path(), fs::perms(0755));
        binary = tmp_ / "bin/sweepkin";
        fs::create_directories(fs::path(binary).parent_path());
        fs::copy_file(SWEEPKIN_BINARY, binary);
        giveToNobody(home_);
        prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    fs::permissions(home(kCloudKit + "/locked"), fs::perms(0555));

    const RunResult result = sweepkin({"--clear-cloudkit-now"}, binary, prefix);
    const auto lines = clearLines(result, 5);
    EXPECT_EQ(lines[1], "CloudKit cache size before: 3 KB");
    EXPECT_EQ(lines[2], "  could not fully clear — may need Full Disk Access");
    EXPECT_TRUE(fs::exists(home(kCloudKit + "/locked/b")));
    expectReport("iCloud (CloudKit) cache: cleared 0 B (partial — needs Full Disk Access)", "0 B",
                 lines[3]);
}

TEST_F(CliTest, ClearFinishesItsReportWhenTheOutputReaderHasGone) {
    makeFile(home(kCloudKit + "/a"), 5000);
    const RunResult result = sweepkin({"--clear-cloudkit-now"}, SWEEPKIN_BINARY, {}, true);
    EXPECT_EQ(result.status, 0);
    EXPECT_FALSE(fs::exists(home(kCloudKit)));
    EXPECT_NE(readText(home(kReport)).find("- iCloud (CloudKit) cache: cleared 5 KB\n"),
              std::string::npos);
}

TEST_F(CliTest, ClearDoesNotClaimAReportItCouldNotWrite) {
    makeFile(home(kCloudKit + "/a"), 5000);
    writeText(home("Library/Application Support/Sweepkin"), "a file where the folder should be");
    const RunResult result = sweepkin({"--clear-cloudkit-now"});
    EXPECT_EQ(result.status, 0);
    const auto lines = splitLines(result.out);
    ASSERT_EQ(lines.size(), 5u) << result.out;
    EXPECT_EQ(lines[2], "  cleared 5 KB");
    EXPECT_EQ(lines[4], "Report not written — could not save " + home(kReport));
    EXPECT_EQ(readText(home("Library/Application Support/Sweepkin")),
              "a file where the folder should be");
}

}  // namespace
}  // namespace sweepkin::testing
