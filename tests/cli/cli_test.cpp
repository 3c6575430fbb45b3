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

const std::string kReport = ".local/state/Sweepkin/last_cleanup_report.md";
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
        std::vector<std::string> env = {"HOME=" + home_, "PATH=/usr/local/bin:/usr/bin:/bin",
                                        "LANG=C.UTF-8", "QT_QPA_PLATFORM=xcb"};
        env.insert(env.end(), extraEnv_.begin(), extraEnv_.end());
        return run(prefix, env, readerGoesAway);
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
        const std::set<std::string> reportPaths = {".local", ".local/state",
                                                   ".local/state/Sweepkin", kReport};
        for (const auto& [path, state] : after) {
            EXPECT_TRUE(before.contains(path) || reportPaths.contains(path)) << path << " created";
        }
    }

    TempDir tmp_;
    std::string home_ = tmp_ / "home";
    std::vector<std::string> extraEnv_;  // VAR=value, added to every run
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
    enum Mode { SelfTest, Help, Version, Tray };
    struct Case {
        std::vector<std::string> args;
        Mode mode;
    };
    const std::vector<Case> cases = {
        {{"--selftest"}, SelfTest},
        {{"--selftest", "--clear-cloudkit-now"}, SelfTest},
        {{"--clear-cloudkit-now", "--selftest"}, SelfTest},
        {{"-v", "--selftest", "extra"}, SelfTest},
        {{"--help", "--selftest"}, SelfTest},
        {{"--version", "--selftest"}, SelfTest},
        {{"--help"}, Help},
        {{"x", "-h"}, Help},
        {{"--version"}, Version},
        {{}, Tray},
        {{"--SELFTEST"}, Tray},
        {{"--selftest=1"}, Tray},
        {{" --selftest"}, Tray},
        {{"--clear-cloudkit-now=yes"}, Tray},
        {{"--Clear-CloudKit-Now"}, Tray},
        {{"--help=all"}, Tray},
        {{"-V"}, Tray},
    };
    makeFile(home(kCloudKit + "/blob"), 3000);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const RunResult result = sweepkin(c.args);
        switch (c.mode) {
            case SelfTest:
                EXPECT_EQ(result.status, 0);
                EXPECT_EQ(result.out, selfTestOutput({{"iCloud (CloudKit) cache",
                                                       "3 KB  [hidden (<1 MB)]  — 1 folder(s)"}}));
                break;
            case Help:
                EXPECT_EQ(result.status, 0);
                EXPECT_TRUE(result.out.starts_with("Usage: sweepkin ")) << result.out;
                for (const char* mentioned :
                     {"--selftest", "--clear-cloudkit-now", "tray",
                      "~/.local/state/Sweepkin/Sweepkin.log", "man sweepkin"}) {
                    EXPECT_NE(result.out.find(mentioned), std::string::npos) << mentioned;
                }
                break;
            case Version:
                EXPECT_EQ(result.status, 0);
                EXPECT_EQ(result.out, "Sweepkin 4.0\n");
                break;
            case Tray:
                EXPECT_EQ(result.out, "");
                break;
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
    writeText(home(".local/state/Sweepkin"), "a file where the folder should be");
    const RunResult result = sweepkin({"--clear-cloudkit-now"});
    EXPECT_EQ(result.status, 0);
    const auto lines = splitLines(result.out);
    ASSERT_EQ(lines.size(), 5u) << result.out;
    EXPECT_EQ(lines[2], "  cleared 5 KB");
    EXPECT_EQ(lines[4], "Report not written — could not save " + home(kReport));
    EXPECT_EQ(readText(home(".local/state/Sweepkin")), "a file where the folder should be");
}

// A Linux home with every location of the catalogue (native, Flatpak, snap) among the files that
// must never be touched: the dry run finds each application's folders, and removing what every
// entry expands to takes exactly those folders and leaves every other file byte-identical.
TEST_F(CliTest, LinuxHomeIsFoundAndCleanedWithoutTouchingAnythingElse) {
    constexpr std::int64_t kFill = 250000;  // one file of this size in each cache folder
    struct Row {
        const char* what;
        std::string cache, config;  // relative to the scratch folder; where the XDG folders are
        std::vector<std::string> env;
    };
    const std::vector<Row> rows = {
        {"default XDG folders", "home/.cache", "home/.config", {}},
        {"XDG folders elsewhere",
         "xdg/cache",
         "xdg/config",
         {"XDG_CACHE_HOME=" + (tmp_ / "xdg/cache/"), "XDG_CONFIG_HOME=" + (tmp_ / "xdg/config")}},
        {"XDG values that would widen the guard are ignored",
         "home/.cache",
         "home/.config",
         {"XDG_CACHE_HOME=" + home_, "XDG_CONFIG_HOME=/"}},
    };
    const std::map<std::string, std::string> found = {
        {"Google Chrome", "3 MB  [WOULD LIST]  — 11 folder(s)"},
        {"Claude (desktop app)", "1 MB  [WOULD LIST]  — 5 folder(s)"},
        {"Spotify", "750 KB  [hidden (<1 MB)]  — 3 folder(s)"},
        {"Slack", "2 MB  [WOULD LIST]  — 6 folder(s)"},
        {"Microsoft Edge", "1 MB  [WOULD LIST]  — 4 folder(s)"},
        {"Visual Studio Code", "2 MB  [WOULD LIST]  — 6 folder(s)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(home_);
        fs::remove_all(tmp_ / "xdg");
        fs::create_directory(home_);
        extraEnv_ = row.env;
        const std::string cache = tmp_ / row.cache, config = tmp_ / row.config;
        std::vector<std::string> caches;  // every folder a clean must remove, absolute
        const auto cacheAt = [&](const std::string& folder, const std::string& file = "f") {
            caches.push_back(folder);
            writeFile(folder + "/" + file, kFill);
        };
        const auto keep = [](const std::string& path) { writeText(path, "keep " + path + "\n"); };

        const std::string chrome = config + "/google-chrome",
                          flatChrome = home(".var/app/com.google.Chrome/");
        cacheAt(cache + "/google-chrome", "Default/Cache/data_0");
        cacheAt(cache + "/google-chrome-beta", "Profile 1/Code Cache/js/index");
        for (const char* shader :
             {"GrShaderCache", "GraphiteDawnCache", "GPUPersistentCache", "ShaderCache",
              "Default/GPUCache", "Default/Service Worker/CacheStorage",
              "Guest Profile/GPUCache"}) {
            cacheAt(chrome + "/" + shader);
        }
        cacheAt(flatChrome + "cache/google-chrome", "Default/Cache/f");
        cacheAt(flatChrome + "config/google-chrome/Default/GPUCache");
        keep(chrome + "/Local State");
        for (const char* data :
             {"Cookies", "History", "Login Data", "Bookmarks", "Preferences", "Web Data",
              "Local Storage/leveldb/CURRENT", "Session Storage/LOG", "Sessions/Tabs_1",
              "IndexedDB/x/y", "Extensions/abc/manifest.json", "Service Worker/Database/LOG"}) {
            keep(chrome + "/Default/" + data);
            keep(flatChrome + "config/google-chrome/Default/" + data);
        }

        for (const char* name :
             {"Cache", "Code Cache", "GPUCache", "DawnGraphiteCache", "DawnWebGPUCache"}) {
            cacheAt(config + "/Claude/" + name);
        }
        keep(config + "/Claude/config.json");
        keep(config + "/Claude/claude_desktop_config.json");
        keep(config + "/Claude/Local Storage/leveldb/LOG");

        cacheAt(cache + "/spotify", "Data/ab");
        cacheAt(home(".var/app/com.spotify.Client/cache/spotify"));
        cacheAt(home("snap/spotify/common/.cache/spotify"));
        keep(config + "/spotify/prefs");
        keep(home(".var/app/com.spotify.Client/config/spotify/prefs"));

        for (const char* name :
             {"Cache", "Code Cache", "GPUCache", "Service Worker/CacheStorage"}) {
            cacheAt(config + "/Slack/" + name);
        }
        cacheAt(home(".var/app/com.slack.Slack/config/Slack/Cache"));
        // snap's "current" is a link to the revision in use.
        cacheAt(home("snap/slack/123/.config/Slack/GPUCache"));
        fs::create_symlink("123", home("snap/slack/current"));
        caches.back() = home("snap/slack/current/.config/Slack/GPUCache");
        keep(config + "/Slack/storage/root-state.json");
        keep(config + "/Slack/Cookies");
        keep(home("snap/slack/123/.config/Slack/storage/x"));

        cacheAt(cache + "/microsoft-edge", "Default/Cache/f");
        cacheAt(config + "/microsoft-edge/Default/GPUCache");
        cacheAt(home(".var/app/com.microsoft.Edge/cache/microsoft-edge-beta"));
        cacheAt(home(".var/app/com.microsoft.Edge/config/microsoft-edge/Profile 1/Code Cache"));
        keep(config + "/microsoft-edge/Local State");
        keep(config + "/microsoft-edge/Default/Cookies");
        keep(config + "/microsoft-edge/Default/History");

        for (const char* name : {"Cache", "CachedData", "Code Cache", "GPUCache"}) {
            cacheAt(config + "/Code/" + name);
        }
        cacheAt(home(".var/app/com.visualstudio.code/config/Code/CachedData"));
        cacheAt(home("snap/code/7/.config/Code/Cache"));
        fs::create_symlink("7", home("snap/code/current"));
        caches.back() = home("snap/code/current/.config/Code/Cache");
        for (const char* data :
             {"User/settings.json", "Backups/1/x", "Workspaces/2/workspace.json"}) {
            keep(config + "/Code/" + data);
        }
        // A macOS-style folder stays covered beside the Linux ones.
        keep(home("Library/Application Support/Google/Chrome/Default/Cookies"));
        if (row.cache != "home/.cache") keep(home(".cache/spotify/not-the-cache-in-use"));

        auto expected = fingerprint(tmp_.path());
        const RunResult selfTest = sweepkin({"--selftest"});
        EXPECT_EQ(selfTest.status, 0);
        EXPECT_EQ(selfTest.out, selfTestOutput(found));
        EXPECT_EQ(fingerprint(tmp_.path()), expected) << "the dry run changed something";

        const RunResult clean = sweepkin({"--every-target"}, SWEEPKIN_DELETION_DRIVER);
        EXPECT_EQ(clean.out,
                  "iCloud (CloudKit) cache 0 0\nGoogle Chrome 2750000 0\n"
                  "Claude (desktop app) 1250000 0\nSafari 0 0\nSpotify 750000 0\n"
                  "Slack 1500000 0\nMicrosoft Edge 1000000 0\nVisual Studio Code 1500000 0\n");
        // Folders' own times change when an entry goes; everything else must be as it was.
        for (const std::string& folder : caches) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(folder))) << folder;
            // Through snap's "current" link: the fingerprint names the revision folder.
            const std::string relative =
                (fs::canonical(fs::path(folder).parent_path()) / fs::path(folder).filename())
                    .lexically_relative(fs::canonical(tmp_.path()))
                    .string();
            std::erase_if(expected, [&](const auto& entry) {
                return entry.first == relative || entry.first.starts_with(relative + "/");
            });
        }
        auto after = fingerprint(tmp_.path());
        for (auto* tree : {&expected, &after}) {
            for (auto& [path, state] : *tree) {
                if (state.starts_with("type=40000")) state = "folder";
            }
        }
        EXPECT_EQ(after, expected);
    }
}

}  // namespace
}  // namespace sweepkin::testing
