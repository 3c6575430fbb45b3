// The built program run with a temporary HOME, and the report writer under faults.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "app/self_test.h"
#include "engine/catalogue/catalogue.h"
#include "engine/catalogue/pattern.h"
#include "engine/fs/home.h"
#include "engine/fs/resolver.h"
#include "engine/fs/safety_guard.h"
#include "engine/fs/sizes.h"
#include "ops/cleanup_report.h"
#include "tests/support/tree.h"

namespace sweepkin::fixtures {
namespace {

using namespace std::string_literals;

const std::string kReport = ".local/state/Sweepkin/last_cleanup_report.md";
const std::string kCloudKit = "Library/Caches/CloudKit";

std::string localNow() {
    char text[32];
    const std::time_t now = std::time(nullptr);
    return {text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&now))};
}

// The self-test output expected beside `out`, the program's: `found` targets with their text, the
// others none, `failing` guard lines. The fixed guard lines are the self-test's own table (which
// the guard is checked against in process); the Linux ones are copied
// from `out` as long as each passes unless failing and the cache and config homes in use show.
std::string selfTestOutput(const std::string& out,
                           const std::map<std::string, std::string>& found = {},
                           const std::set<std::string>& failing = {},
                           const std::string& cache = "~/.cache",
                           const std::string& config = "~/.config") {
    std::string text = "Sweepkin — self test (DRY RUN, deletes nothing)\n" + std::string(56, '=') +
                       "\nCaches found (only those > 1 MB are shown in the panel):\n";
    for (const AppTarget& target : buildCacheTargets()) {
        const std::string& name = target.name;
        const auto it = found.find(name);
        text += "  · " + name + ": " +
                (it == found.end() ? "not installed / no cache" : it->second) + "\n";
    }
    text += "\nSAFETY GUARD (isSafeCachePath) — must ALLOW caches, must REFUSE data:\n";
    const auto line = [&](const std::string& path, const std::string& word) {
        text += std::string("  ") + (failing.contains(path) ? "FAIL ✗" : "PASS") + "  " + word +
                std::string(8 - word.size(), ' ') + path + "\n";
    };
    for (const GuardCase& check : selfTestGuardCases(processValuesFor(homeDirectory()), false)) {
        line(abbreviateTilde(check.path), check.mustAllow ? "allow" : "refuse");
    }
    const std::string end = "\n  PASS  license text bundled\n";
    const std::string kept = "CATALOGUE — no row may name what a tool keeps beside its caches:";
    std::istringstream linux(
        out.substr(0, out.find(end)).substr(std::min(text.size(), out.size())));
    bool cacheShown = cache.empty(), configShown = false;
    for (std::string printed; std::getline(linux, printed);) {
        std::smatch m;
        if (std::regex_match(printed, m,
                             std::regex("  (PASS|FAIL ✗)  (allow|refuse|kept) +(.+)")) &&
            (m[1] == "PASS") != failing.contains(m[3])) {
            line(m[3], m[2]);
        }
        if (printed == kept) text += "\n" + kept + "\n";
        cacheShown = cacheShown || m[3] == cache + "/spotify";
        configShown = configShown || m[3] == config;
    }
    return text + (cacheShown && configShown ? "" : "(not the homes in use)\n") + end + "\n" +
           (failing.empty() ? "✓ ALL SAFETY CHECKS PASSED\n" : "✗ SAFETY CHECKS FAILED\n");
}

// Every guard check of the self-test, the folders in use included, holds for the real guard.
TEST(SelfTestGuardCases, HoldForTheGuard) {
    const std::vector<GuardCase> cases = selfTestGuardCases(processValuesFor(homeDirectory()));
    EXPECT_GT(cases.size(), selfTestGuardCases(processValuesFor(homeDirectory()), false).size());
    for (const GuardCase& check : cases) {
        EXPECT_EQ(isSafeCachePath(check.path), check.mustAllow) << check.path;
    }
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override { resetHome(); }
    void resetHome() {
        removeTree(tmp_.path());
        makeDirs(home_);
    }
    std::string home(const std::string& relative) const { return home_ + "/" + relative; }
    // With no display, menu-bar mode fails at once.
    RunResult sweepkin(const std::vector<std::string>& args, std::vector<std::string> argv = {},
                       bool readerGoesAway = false) {
        if (argv.empty()) argv.push_back(SWEEPKIN_BINARY);
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> env = {"HOME=" + home_, "PATH=/usr/bin:/bin", "LANG=C.UTF-8",
                                        "QT_QPA_PLATFORM=xcb", "TZ=XYZ-14"};
        env.insert(env.end(), extraEnv_.begin(), extraEnv_.end());
        return runProgram(argv, env, readerGoesAway);
    }

    ScratchDir tmp_{Reach::anyUser};  // the "locked" case runs the program as another user
    std::string home_ = tmp_ / "home";
    std::vector<std::string> extraEnv_;  // VAR=value, added to every run
};

// A home or config folder named like a cache is admitted by the guard's name rule: the self-test
// fails, and says which line.
TEST_F(CliTest, SelfTestFailsWhenTheGuardAdmitsTheHomeOrTheConfigFolder) {
    const std::tuple<std::string, std::vector<std::string>, std::string, std::string> rows[] = {
        {"mycache", {}, "~", "~/.config"},
        {"home", {"XDG_CONFIG_HOME=" + (tmp_ / "CacheConf")}, "", tmp_ / "CacheConf"}};
    for (const auto& [homeName, env, failing, config] : rows) {
        home_ = tmp_ / homeName;
        makeDirs(home_);
        extraEnv_ = env;
        const RunResult result = sweepkin({"--selftest"});
        EXPECT_EQ(result.out, selfTestOutput(result.out, {}, {failing.empty() ? config : failing},
                                             "~/.cache", config));
        EXPECT_EQ(result.status, 1);
    }
}

// Help or the version wins wherever it stands, then --selftest, then --clear-cloudkit-now; only
// exact arguments count, no mode changes anything on disk. The self-test lists exactly 1 MB, not
// one byte less; a file is measured as a file, an empty folder counts, links are not followed.
TEST_F(CliTest, OnlyExactFlagsChooseACommandLineModeAndTheDryRunChangesNothing) {
    enum Mode { SelfTest, Help, Version, Tray, List, Json, History };
    // clang-format off
    const std::pair<std::vector<std::string>, Mode> cases[] = {
        {{"--selftest"}, SelfTest}, {{"--selftest", "--clear-cloudkit-now"}, SelfTest},
        {{"--clear-cloudkit-now", "--selftest"}, SelfTest}, {{"-v", "--selftest", "x"}, SelfTest},
        {{"--selftest", "--help"}, Help}, {{"--clear-cloudkit-now", "--help"}, Help},
        {{"-h", "--clear-cloudkit-now"}, Help}, {{"--clear-cloudkit-now", "--version"}, Version},
        {{"--version", "--selftest"}, Version}, {{"--help"}, Help}, {{"x", "-h"}, Help}, {{"--version"}, Version}, {{}, Tray},
        {{"--SELFTEST"}, Tray}, {{"--selftest=1"}, Tray}, {{" --selftest"}, Tray},
        {{"--clear-cloudkit-now=yes"}, Tray}, {{"--Clear-CloudKit-Now"}, Tray},
        {{"--help=all"}, Tray}, {{"-V"}, Tray}, {{"--list"}, List}, {{"--json", "--list"}, Json},
        {{"--history", "--list"}, List}, {{"--list", "--selftest"}, SelfTest}, {{"--history"}, History},
        {{"--json"}, Tray}, {{"--List"}, Tray}, {{"--history", "-h"}, Help}};
    // clang-format on
    const std::string code = "Library/Application Support/Code/";
    makeTree(home_, {kCloudKit + "/blob=1000000", "Library/Caches/com.spotify.client/d=999999",
                     code + "CachedData=5000", code + "Cache/link->../../../../Documents/big",
                     "Documents/big=5000000", code + "GPUCache/", code + "Code Cache/.a/b=5000"});
    // Settings that cannot be read: the listing trusts no tick in them and copies nothing aside.
    writeText(home(".config/Sweepkin/Sweepkin.conf"), "[General\nuntickedRows=\n");
    const Fingerprint before = fingerprint(home_);
    for (const auto& [args, mode] : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const RunResult result = sweepkin(args);
        if (mode == SelfTest) {
            EXPECT_EQ(
                result.out,
                selfTestOutput(result.out,
                               {{"iCloud (CloudKit) cache", "1 MB  [WOULD LIST]  — 1 folder(s)"},
                                {"Spotify", "1000 KB  [hidden (<1 MB)]  — 1 folder(s)"},
                                {"Visual Studio Code", "10 KB  [hidden (<1 MB)]  — 4 folder(s)"}}));
        } else if (mode == Help) {
            EXPECT_TRUE(result.out.starts_with("Usage: sweepkin ") &&
                        result.out.find("--clear-cloudkit-now") != std::string::npos);
        } else if (mode == Json) {
            EXPECT_TRUE(
                result.out.starts_with("{\n  \"schema\": 1,\n  \"rows\": [\n    {\"id\": "
                                       "\"icloud-cloudkit-cache\", \"name\": \"iCloud (CloudKit) "
                                       "cache\", \"bytes\": 1000000, \"ticked\": false"))
                << result.out;
        } else {
            const std::map<Mode, std::string> printed = {
                {Version, "Sweepkin 4.0\n"},
                {Tray, ""},
                {History, "No history yet.\n"},
                {List,
                 "Name                     Size  Ticked  Running\n"
                 "iCloud (CloudKit) cache  1 MB  no      no\n"}};
            EXPECT_EQ(result.out, printed.at(mode));
        }
        // Exit status 0, also when the reader goes away at once (no death by SIGPIPE).
        EXPECT_EQ(mode == Tray ? 0 : result.status + sweepkin(args, {}, true).status, 0);
        EXPECT_EQ(fingerprint(home_), before);
    }
}

// The clear's exact output and report, stamped with the local time (14 hours east of UTC here).
// Nothing but the CloudKit folder and the report (with its new folders) changes.
TEST_F(CliTest, ClearPrintsAndReportsWhatItDid) {
    struct Case {
        std::vector<std::string> tree;
        bool locked;  // other users may change "locked": it is left alone
        std::vector<std::string> printed;
        std::string reportLine, total;  // no total: the report cannot be written
        std::string history;            // what --history then prints
    };
    // clang-format off
    const Case cases[] = {
        {{}, false, {"CloudKit cache: nothing to clear"}, "iCloud (CloudKit) cache: cleared 0 B",
         "0 B", "0 B in 0 rows, freed 0 B in 1 clean"},
        {{kCloudKit + "/r/a=2000000", kCloudKit + "/empty/nested/", kCloudKit + "/.hidden=1000000",
          "Documents/keep=4000000", kCloudKit + "/r/link->../../../../Documents/keep",
          kReport + "=10"}, false, {"CloudKit cache size before: 3 MB", "  cleared 3 MB"},
         "iCloud (CloudKit) cache: cleared 3 MB", "3 MB", "3 MB in 1 row, freed 3 MB in 1 clean"},
        {{kCloudKit + "/a=1000", kCloudKit + "/locked/b=2000"}, true,
         {"CloudKit cache size before: 1 KB",
          "  could not fully clear — may need Full Disk Access"},
         "iCloud (CloudKit) cache: cleared 1 KB (partial — needs Full Disk Access)", "1 KB",
         "1 KB in 1 row, freed 1 KB in 1 clean"},
        {{kCloudKit + "/a=5000", ".local/state/Sweepkin=7"}, false,
         {"CloudKit cache size before: 5 KB", "  cleared 5 KB"}, "", "", ""}};
    // clang-format on
    ::setenv("TZ", "XYZ-14", 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.tree));
        resetHome();
        makeTree(home_, c.tree);
        ASSERT_EQ(c.locked ? ::chmod(home(kCloudKit + "/locked").c_str(), 0777) : 0, 0);
        Fingerprint before = fingerprint(home_, false);
        const std::string earliest = localNow();
        const RunResult result = sweepkin({"--clear-cloudkit-now"});
        const std::string latest = localNow();
        const std::string size = R"((\d+ [KM]?B|\d+\.\d\d GB))";
        std::smatch free;  // the free-disk figures vary
        EXPECT_TRUE(std::regex_search(
            result.out, free,
            std::regex("Free disk now: (" + size + "  \\(was " + size + "\\))\n")));
        std::string expected = "Sweepkin — clearing iCloud (CloudKit) cache for real\n";
        for (const std::string& line : c.printed) expected += line + "\n";
        EXPECT_EQ(result.out,
                  expected + "Free disk now: " + free.str(1) + "\nReport " +
                      (c.total.empty() ? "not written — could not save " : "written → ") +
                      home(kReport) + "\n");
        EXPECT_EQ(result.status, 0);
        const std::string report = readText(home(kReport));
        const std::string stamp = report.substr(std::min(report.find("**") + 2, report.size()), 19);
        EXPECT_TRUE(c.total.empty() || (earliest <= stamp && stamp <= latest)) << stamp;
        EXPECT_EQ(report, c.total.empty()
                              ? ""
                              : "# Sweepkin — Cleanup Report\n\n**" + stamp + "**\n\n- " +
                                    c.reportLine + "\n\n**Total cleared:** " + c.total +
                                    "\n\n**Free disk now:** " + free.str(1) + "\n");
        EXPECT_EQ(exists(home(kCloudKit)) + exists(home(kCloudKit + "/locked/b")), 2 * c.locked);
        Fingerprint after = fingerprint(home_, false);
        // The clean is kept in the history, also where no report could be written.
        const std::string history = sweepkin({"--history"}).out;
        EXPECT_EQ(history.substr(std::min<std::size_t>(22, history.size())),
                  c.history.empty() ? "" : "clean  " + c.history + "\n");
        EXPECT_EQ(history.starts_with("No history yet."), c.history.empty());
        const std::string id = "\"icloud-cloudkit-cache\": \\d+";
        EXPECT_TRUE(std::regex_match(
            sweepkin({"--history", "--json"}).out,
            std::regex(
                c.history.empty()
                    ? "\\{\n  \"schema\": 1,\n  \"records\": \\[\\]\n\\}\n"
                    : "\\{\n  \"schema\": 1,\n  \"records\": \\[\n    \\{\"at\": \"[-0-9T:]+Z\", "
                      "\"kind\": \"clean\", \"bytes\": \\{(" +
                          id + ")?\\}, \"freed\": \\{(" + id +
                          ")?\\}, \"cleans\": 1\\}\n  \\]\n\\}\n")));
        for (auto* tree : {&before, &after}) {
            forget(*tree, kCloudKit), forget(*tree, kReport);
            forget(*tree, ".local/state/Sweepkin/history.sqlite");
        }
        for (const char* made : {".local", ".local/state", ".local/state/Sweepkin"}) {
            if (!before.contains(made)) after.erase(made);
        }
        EXPECT_EQ(after, before);
    }
}

// A Linux home with every catalogue location among files never to be touched: the dry run finds
// each row's folders, and removing every target takes exactly those, all else byte-identical.
// Each row's items are made from its locations as the resolver names them ("*" a sample name, a
// snap's "current" a link to its revision), with data beside each item and in every folder above
// it; the developer tools' items also as the tools lay them out.
TEST_F(CliTest, LinuxHomeIsFoundAndCleanedWithoutTouchingAnythingElse) {
    // The XDG cache ("C/") and config ("F/") folders and the variables that put them there; a
    // cache home that is the home, or inside the config home through a link, is not used.
    const std::tuple<std::string, std::string, std::vector<std::string>> rows[] = {
        {"home/.cache", "home/.config", {}},
        {"xdg/cache",
         "xdg/config",
         {"XDG_CACHE_HOME=" + (tmp_ / "xdg/cache/"), "XDG_CONFIG_HOME=" + (tmp_ / "xdg/config")}},
        {"home/.cache", "home/.config", {"XDG_CACHE_HOME=" + home_, "XDG_CONFIG_HOME=/"}},
        {"home/.cache", "home/.config", {"XDG_CACHE_HOME=" + (tmp_ / "config-alias/new")}}};
    const std::string bazel = "C/bazel/_bazel_u", bazelBase = "/3ac04e2824251474938f003c9a4e3e52";
    const std::string bazelOut = bazelBase + "/execroot/__main__/bazel-out/k8-fastbuild";
    const std::string jb = "/JetBrains/IntelliJIdea2024.2/", pw = "C/ms-playwright/";
    // Items as the tools lay them out, with a 250,000-byte file at the path after ':' (Bazel,
    // Gradle, Cargo, ccache, Go ran here; the rest from their sources).
    // clang-format off
    const std::vector<std::string> layouts = {
        bazel + ":" + bazelOut.substr(1) + "/bin/hello.txt", "C/bazel/_bazel_u2:cache/repos/v1/x",
        "~/.gradle/caches:modules-2/files-2.1/org.example/lib/1.0/ab/lib-1.0.jar",
        "~/.cargo/registry/cache:index.crates.io-6f17d22bba15001f/serde-1.0.0.crate",
        "C/ccache/9:5/9221gktp3524n6qqg77drrljfm0hg9cR", "C/ccache/tmp:.cleaned",
        "C/JetBrains/PyCharm2024.2/caches:content.dat", "C" + jb + "index:stubs/stubs.dat",
        "C/huggingface/hub:models--gpt2/blobs/e7a", "C/huggingface/datasets:glue/default/0.0.0/x.arrow",
        "C/huggingface/xet:https___cas_serv-tGqkUaZf_CBPHQ6h/shard_cache/x.mdb",
        "C/ms-playwright/chromium-1255:chrome-linux/chrome", "C/ms-playwright/ffmpeg-1011:ffmpeg-linux",
        "C/Cypress:15.3.0/Cypress/Cypress", "~/go/pkg/mod/cache:download/example.com/lib/@v/v1.0.0.zip",
        "~/miniconda3/pkgs/cache:497deca9.json"};
    // What stays beside them and elsewhere: what the tools keep beside their caches, a folder of
    // no row's in the cache home, names only like an item's or a channel's.
    const std::vector<std::string> kept = {
        "C/gstreamer-1.0/registry.bin", "C/mesa_shader_cache_sf/x",
        "F/google-chrome-extension-src/lib/GPUCache/f", "~/go/pkg/mod/x", "~/.npm/_logs/x.log",
        "F/yarn/global/x", "~/.local/lib/python3.11/site-packages/x", "~/.nv/ComputeCache/x",
        "~/bz/hello.c", "~/bz/WORKSPACE", "~/.bazelrc", "~/bazel-install/A-server.jar",
        "~/.gradle/gradle.properties", "~/.gradle/init.gradle", "~/.gradle/init.d/mirror.gradle",
        "~/.gradle/wrapper/dists/gradle-8.5-bin/h/gradle-8.5/bin/gradle", "~/.gradle/daemon/8.5/registry.bin",
        "~/.gradle/jdks/jdk-17/bin/java", "~/.cargo/bin/ripgrep", "~/.cargo/credentials.toml",
        "~/.cargo/config.toml", "~/.cargo/registry/index/index.crates.io-6f17d22bba15001f/config.json",
        "~/.cargo/registry/src/index.crates.io-6f17d22bba15001f/serde-1.0.0/src/lib.rs",
        "~/.cargo/git/db/dep-0123456789abcdef/objects/pack/p.pack", "F/ccache/ccache.conf",
        "~/.ccache/ccache.conf", "C/ccache/ccache.conf", "C" + jb + "LocalHistory/changes.storageData",
        "C" + jb + "log/idea.log", "F" + jb + "options/other.xml", "~/.local/share" + jb + "someplugin/lib/p.jar",
        "C/huggingface/token", "C/huggingface/stored_tokens", "C/huggingface/assets/x",
        "C/huggingface/modules/x", pw + ".links/ab", pw + ".settings/trace-viewer.json",
        pw + "daemon/ab12/ud-default-chromium/Default/Cookies", pw + "b/x", pw + "__dirlock",
        "C/ms-playwright-mcp/mcp-chrome-1/Default/Cookies", "F/Cypress/cy/production/state.json",
        "~/.local/share/pnpm/store/v10/files/74/f51f", "~/.local/share/pnpm/global/5/package.json",
        "~/go/pkg/mod/example.com/lib@v1.0.0/lib.go", "~/go/bin/tool", "~/go/src/x/main.go", "F/go/env",
        "~/.local/share/uv/python/cpython-3.12-linux-x86_64-gnu/bin/python3", "F/uv/uv.toml",
        "~/miniconda3/pkgs/numpy-1.26.4-py312h1.conda", "~/miniconda3/pkgs/zlib-1.2.13-h5eee18b_1.tar.bz2",
        "~/miniconda3/pkgs/numpy-1.26.4-py312h1/info/index.json", "~/miniconda3/pkgs/urls.txt",
        "~/miniconda3/envs/ml/lib/x.so", "~/.condarc", "~/.conda/environments.txt"};
    // clang-format on
    const std::vector<AppTarget> targets = buildCacheTargets();
    const std::regex snapCurrent("(/snap/[^/]+)/current/");
    const auto sample = [&](std::string pattern) {
        for (std::size_t at; (at = pattern.find('*')) != std::string::npos;)
            pattern.replace(at, 1, "p1");
        return std::regex_replace(pattern, snapCurrent, "$1/1/");
    };
    for (const auto& [cacheDir, configDir, env] : rows) {
        SCOPED_TRACE(::testing::PrintToString(env));
        resetHome();
        extraEnv_ = env;
        const std::string cache = tmp_ / cacheDir, config = tmp_ / configDir;
        const std::map<char, std::string> roots = {{'C', cache}, {'F', config}, {'~', home_}};
        const auto at = [&](const std::string& path) { return roots.at(path[0]) + path.substr(1); };
        // Each row's item patterns, as the program's resolver names them here.
        Places places{home_, cache, config, home(".local/share"), {}};
        for (const AppTarget& target : targets) {
            for (const ToolVariable& tool : target.tools) {
                const std::string& base = tool.defaultRoot == RootKind::Home ? home_ : cache;
                if (!tool.defaultFolder.empty())
                    places.tools[tool.name] = base + "/" + tool.defaultFolder;
            }
        }
        const Resolver resolver(places);
        std::vector<std::vector<std::string>> patterns(targets.size());
        for (std::size_t row = 0; row < targets.size(); ++row) {
            for (const Location& location : targets[row].locations) {
                for (const std::string& pattern : resolver.patterns(location)) {
                    patterns[row].push_back(std::regex_replace(pattern, snapCurrent, "$1/1/"));
                    std::smatch m;
                    if (std::regex_search(pattern, m, snapCurrent))
                        makeTree("/", {home_ + m.str(1) + "/current->1"});
                }
            }
        }
        // The row one of whose items is `path` or holds it; -1 for none.
        const auto rowOf = [&](const std::string& path) {
            const std::vector<std::string_view> parts = pathComponents(path);
            for (std::size_t row = 0; row < targets.size(); ++row) {
                for (const std::string& pattern : patterns[row]) {
                    const std::vector<std::string_view> named = pathComponents(pattern);
                    std::size_t i = 0;
                    while (i < named.size() && i < parts.size() && wildcardMatch(named[i], parts[i]))
                        ++i;
                    if (i == named.size()) return static_cast<int>(row);
                }
            }
            return -1;
        };
        std::vector<std::string> files = layouts;  // an item and its file, or an item alone
        std::set<std::string> stays(kept.begin(), kept.end());
        for (const std::vector<std::string>& named : patterns) {
            for (const std::string& pattern : named) {
                const std::string item = sample(pattern);
                files.push_back(item);
                for (std::string above = item; above.size() > tmp_.path().size();) {
                    above = std::filesystem::path(above).parent_path();
                    stays.insert(above + "/Preferences");
                }
                // Where the cache folder in use is elsewhere, ~/.cache is only another folder.
                if (item.starts_with(cache + "/") && cache != home(".cache"))
                    stays.insert(home(".cache") + item.substr(cache.size()) + "/f");
            }
        }
        makeTree(tmp_.path(), {"config-alias->home/.config"});
        // Links in Bazel's output base to the installation and to the sources, the workspace's
        // links into it, a model's snapshot linking to its blob: each goes, or stays, as a link.
        makeTree("/", {at(bazel) + bazelBase + "/install->" + home("bazel-install"),
                       at(bazel) + bazelBase + "/execroot/__main__/hello.c->" + home("bz/hello.c"),
                       home("bz/bazel-out->") + at(bazel) + bazelOut,
                       cache + "/huggingface/hub/models--gpt2/snapshots/r1/config.json->"
                               "../../blobs/e7a"});
        std::set<std::string> items;
        std::vector<std::int64_t> bytes(targets.size());
        std::vector<int> folders(targets.size());
        for (const std::string& entry : files) {
            const std::size_t colon = entry.find(':');
            const std::string item = entry.starts_with('/') ? entry : at(entry.substr(0, colon));
            const int row = rowOf(item);
            ASSERT_GE(row, 0) << item;
            if (!isSafeCachePath(item, home_, cache)) {  // the guard keeps it
                writeText(item + "/f", "keep\n");
                continue;
            }
            folders[row] += items.insert(item).second;
            bytes[row] += writeFile(item + "/" + (colon == std::string::npos ? "f" : entry.substr(colon + 1)), 250000);
        }
        for (const std::string& path : stays) {
            const std::string file = path.starts_with('/') ? path : at(path);
            if (rowOf(file) < 0) writeText(file, "keep " + path + "\n");
        }
        const Fingerprint before = fingerprint(tmp_.path());
        Fingerprint expected = fingerprint(tmp_.path(), false);  // folders' own times change
        const RunResult selfTest = sweepkin({"--selftest"});
        EXPECT_EQ(selfTest.status, 0);
        std::map<std::string, std::string> lines;
        std::string freed;
        for (std::size_t row = 0; row < targets.size(); ++row) {
            const std::string& name = targets[row].name;
            if (bytes[row] > 0) {
                lines[name] = formatBytes(bytes[row]) + "  [" +
                              (bytes[row] >= 1'000'000 ? "WOULD LIST" : "hidden (<1 MB)") +
                              "]  — " + std::to_string(folders[row]) + " folder(s)";
            }
            freed += name + " " + std::to_string(bytes[row]) + " " + std::to_string(bytes[row]) +
                     " 0\n";
        }
        EXPECT_EQ(selfTest.out,
                  selfTestOutput(selfTest.out, lines, {},
                                 cacheDir == "home/.cache" ? "~/.cache" : tmp_ / "xdg/cache",
                                 configDir == "home/.config" ? "~/.config" : tmp_ / "xdg/config"));
        // What a script reads from the listing: each row's bytes are the dry run's, its paths
        // exactly the folders that a clean then removes, and its tick the first-seen one.
        std::set<std::string> listed;
        std::map<std::string, std::int64_t> listedBytes;
        std::string commas;
        std::istringstream json(sweepkin({"--list", "--json"}).out);
        const std::regex row(
            R"re(    \{"id": "([a-z0-9-]+)", "name": "([^"]+)", "bytes": (\d+), "ticked": )re"
            R"re((true|false), "running": (?:true|false), "paths": \[(.*)\]\}(,?))re");
        for (std::string line; std::getline(json, line);) {
            std::smatch m;
            ASSERT_TRUE(std::regex_match(line, m, row) || line.find('"') == std::string::npos ||
                        line == "  \"schema\": 1," || line == "  \"rows\": [")
                << line;
            if (m.empty()) continue;
            const auto target = std::find_if(targets.begin(), targets.end(),
                                             [&](const AppTarget& t) { return t.id == m[1]; });
            ASSERT_NE(target, targets.end()) << line;
            EXPECT_EQ(m[2], target->name);
            EXPECT_EQ(std::stoll(m[3]), bytes[target - targets.begin()]) << line;
            listedBytes[m[2]] = std::stoll(m[3]);
            commas += m[6];  // every row but the last ends with one
            EXPECT_EQ(m[4] == "true", !target->startsUnticked) << m[1];
            const std::string paths = m[5];
            const std::regex quoted("\"([^\"]*)\"");
            for (auto it = std::sregex_iterator(paths.begin(), paths.end(), quoted);
                 it != std::sregex_iterator(); ++it) {
                // A snap's items are named through its "current" link, which a script follows.
                const std::filesystem::path item((*it)[1].str());
                listed.insert(std::filesystem::canonical(item.parent_path()) / item.filename());
            }
        }
        const auto rowsFound = std::count_if(bytes.begin(), bytes.end(), [](auto b) { return b > 0; });
        EXPECT_EQ(listedBytes.size(), rowsFound);
        EXPECT_EQ(commas, std::string(rowsFound - 1, ','));
        for (const std::string& path : listed) {
            const auto holder = items.upper_bound(path);
            EXPECT_TRUE(items.contains(path) ||
                        (holder != items.begin() && path.starts_with(*std::prev(holder) + "/")))
                << path;
        }
        for (const std::string& folder : items) EXPECT_TRUE(listed.contains(folder)) << folder;
        EXPECT_EQ(fingerprint(tmp_.path()), before) << "the dry run changed something";
        EXPECT_EQ(sweepkin({"--every-target"}, {SWEEPKIN_DELETION_DRIVER}).out, freed);
        for (const std::string& folder : items) {
            EXPECT_FALSE(exists(folder)) << folder;
            forget(expected, folder.substr(tmp_.path().size() + 1));
        }
        EXPECT_EQ(fingerprint(tmp_.path(), false), expected);
    }
}

// The user's links and hostile HOME and XDG values, end to end: only what a row names as gone
// goes (a link as itself), all else stays byte-identical, each target frees what it measured, and
// a home or cache folder left alone is explained in one line on standard error.
TEST_F(CliTest, LinksAndValuesLeadingOutOfTheCachesTakeNothingElse) {
    struct Row {
        std::vector<std::string> tree, env = {}, gone = {};  // paths below the scratch folder
        std::string home = "home", others = "";  // a link or folder that is another user's
        std::string said = "";                   // the line on standard error
        std::string chmodAt = "";                // a folder given `mode`
        mode_t mode = 0;
    };
    const std::string v = tmp_ / "v", me = tmp_ / "home";
    const bool root = ::geteuid() == 0;
    // Root's own /tmp is no other user's folder for root: a shared folder of another user's
    // stands in for it (nothing outside the scratch folder is ever at stake).
    const std::string tmp = root ? tmp_ / "shared" : "/tmp";
    const std::string leftOut = "Sweepkin: the cache folder ~/.cache is reached through ";
    const std::string overlap =
        "Sweepkin: the cache folder ~/.cache shares folders with your "
        "settings, state or data; caches there are left alone.";
    // clang-format off
    const std::vector<Row> rows = {
        // The user's own link that is itself the item.
        {{"home/.cache/google-chrome->" + v, "v/f=9"}, {}, {"home/.cache/google-chrome"}},
        // A "*" in a value is a name, "//" and "/./" change nothing, and a cache home that
        // contains the home (through a link), or shares with the data home, is not used.
        {{"home/Projects/Code/Cache/f=9"}, {"XDG_CONFIG_HOME=" + me + "/*"}},
        {{"home/.cache/spotify/f=9", "home/Library/Caches/CloudKit/f=9"}, {},
         {"home/.cache/spotify", "home/Library/Caches/CloudKit"}, "/./home//"},
        {{"up->.", "home/.cache/spotify/f=9", "spotify/f=9"}, {"XDG_CACHE_HOME=" + (tmp_ / "up")},
         {"home/.cache/spotify"}},
        {{"home/.cache/spotify/f=9", "home/.cache/google-chrome/Default/Cache/f=9"},
         {"XDG_CONFIG_HOME=" + me + "/.cache"}, {"home/.cache/google-chrome/Default/Cache"}, "home",
         "", overlap},
        // A config value refused here that the applications still use; a cache home that is the
        // home spelled with ".."; the user's links into a cache folder or a sandbox.
        {{"home/.cache/google-chrome/Default/Cookies=9", "home/.cache/spotify/prefs=9"},
         {"XDG_CONFIG_HOME=" + me + "/.cache/."}, {}, "home", "", overlap},
        {{"home/.cache/chromium/Default/Cookies=9"}, {"CHROME_CONFIG_HOME=" + me + "/.cache"}, {},
         "home", "", overlap},
        {{"home/.cache/chromium/Default/Cookies=9"}, {"XDG_CONFIG_HOME=.cache"}, {}, "home", "",
         overlap},
        {{"up/", "home/spotify/f=9", "home/chromium/Default/Cache/f=9"},
         {"XDG_CACHE_HOME=" + me}, {}, "up/../home"},
        {{"home/.config/google-chrome->" + me + "/.cache/google-chrome",
          "home/.cache/google-chrome/Default/Cache/f=9", "home/.cache/google-chrome/x=9"},
         {}, {"home/.cache/google-chrome"}},
        {{"home/.config/google-chrome->" + me + "/.var/app/com.google.Chrome/config/google-chrome",
          "home/.var/app/com.google.Chrome/config/google-chrome/Default/Cache/f=9"},
         {}, {"home/.var/app/com.google.Chrome/config/google-chrome/Default/Cache"}},
        // A tool's folder: a literal name, judged where it is, holding no one else's folders.
        {{"home/.cache/a/f=9"}, {"GOCACHE=" + me + "/.cache/*"}},
        {{"home/go-cache/f=9", "home/.cache/a/f=9"}, {"GOCACHE=" + me + "/go-cache"}, {"home/go-cache"}},
        {{"home/.cache/up->" + me, "home/Documents/f=9"}, {"GOCACHE=" + me + "/.cache/up/Documents"}},
        {{"home/b-cache/c/Default/Cookies=9"}, {"CHROME_CONFIG_HOME=" + me + "/b-cache/c", "GOCACHE=" + me + "/b-cache"}},
        {{"home/.cache/pip/f=9"}, {"GOCACHE=" + me + "/.cache/pip"}, {"home/.cache/pip"}},
        // The same folder by another text: through the user's own link outside the home.
        {{"u/l->" + me + "/.cache", "home/.cache/mesa_shader_cache/f=9"},
         {"GOCACHE=" + tmp_ / "u/l/mesa_shader_cache"}, {"home/.cache/mesa_shader_cache"}},
        {{"home/.cache/mozilla/firefox/p/safebrowsing/x=9", "home/.cache/mozilla/firefox/p/cache2/f=9"},
         {"PIP_CACHE_DIR=" + me + "/.cache/mozilla"}, {"home/.cache/mozilla/firefox/p/cache2"}},
        // Puppeteer reads no XDG_CACHE_HOME; a tool's folder that keeps more than caches gives
        // only those, and never holds what another tool keeps beside its caches.
        {{"home/.cache/puppeteer/chrome/linux-131.0.6778.204/chrome-linux64/chrome=9",
          "home/.cache/puppeteer/chrome/.metadata=9"}, {}, {"home/.cache/puppeteer"}},
        {{"home/.cache/puppeteer/chrome/x=9"}, {"XDG_CACHE_HOME=" + tmp_ / "xc"}},
        {{"home/gradle-cache/caches/modules-2/x=9", "home/gradle-cache/gradle.properties=9",
          "home/.gradle/caches/y=9"}, {"GRADLE_USER_HOME=" + me + "/gradle-cache"},
         {"home/gradle-cache/caches"}},
        {{"home/.cache/cc/ccache.conf=9", "home/.cache/cc/3/a=9"}, {"CCACHE_DIR=" + me + "/.cache/cc"},
         {"home/.cache/cc/3"}},
        {{"home/hf-cache/token=9", "home/hf-cache/hub/models--a/blobs/b=9"},
         {"HF_HOME=" + me + "/hf-cache", "HF_HUB_CACHE=" + me + "/hf-cache"}},
        // Beside another row's items in its application's folder: an IDE's local history, the
        // test runner's browser profiles.
        {{"home/.cache/JetBrains/IU2024.1/LocalHistory/c=9", "home/.cache/JetBrains/IU2024.1/caches/x=9"},
         {"CYPRESS_CACHE_FOLDER=" + me + "/.cache/JetBrains/IU2024.1/LocalHistory"},
         {"home/.cache/JetBrains/IU2024.1/caches"}},
        {{"home/.cache/ms-playwright/daemon/a/ud-1/Cookies=9"},
         {"PUPPETEER_CACHE_DIR=" + me + "/.cache/ms-playwright/daemon"}},
        // A cache home that is a row's item: that item would hold every other row's folder.
        {{"home/.gradle/caches/huggingface/token=9", "home/.gradle/caches/huggingface/hub/b=9"},
         {"XDG_CACHE_HOME=" + me + "/.gradle/caches"}, {"home/.gradle/caches/huggingface/hub"}},
        {{"home/go/pkg/mod/cache/x/ms-playwright/daemon/p=9"},
         {"XDG_CACHE_HOME=" + me + "/go/pkg/mod/cache/x"}},
        // Folders in use inside a row's item keep the item: the state home, the settings as a
        // value names them even when refused here. A cache home holding the sandboxes is not used.
        {{"home/.gradle/caches/st/Sweepkin/history.sqlite=9", "home/.gradle/caches/modules-2/x=9"},
         {"XDG_STATE_HOME=" + me + "/.gradle/caches/st"}},
        {{"home/.nv/GLCache/cfg/app/prefs=9"}, {"XDG_CONFIG_HOME=" + me + "/.nv/GLCache/./cfg"}},
        {{"home/.gradle/caches/c/credentials.toml=9"}, {"CARGO_HOME=.gradle/caches/c"}},
        {{"home/.gradle/caches/r/x=9"}, {"XDG_RUNTIME_DIR=" + me + "/.gradle/caches/r"}},
        {{"home/.var/app->" + me + "/.gradle/caches/f", "home/.gradle/caches/f/org.a.B/data/x=9"}},
        {{"home/.var/spotify/f=9"}, {"XDG_CACHE_HOME=" + me + "/.var"}},
        // Another user's folder holding the cache home, by value or by the user's own link to a
        // shared folder; a folder on the way others may change; a home in a shared folder.
        {{"up/cache/spotify/f=9", "home/.cache/spotify/f=9"},
         {"XDG_CACHE_HOME=" + (tmp_ / "up/cache")},
         {root ? "home/.cache/spotify" : "up/cache/spotify"}, "home", root ? "up" : ""},
        {{"home/.cache->" + tmp, "shared/spotify/f=9"}, {}, {}, "home", root ? "shared" : "",
         leftOut + tmp + ", which is another user's; caches there are left alone.", "shared",
         01777},
        {{"home/.cache->" + (tmp_ / "open/c"), "open/c/spotify/f=9"}, {}, {}, "home", "",
         leftOut + tmp_ / "open" + ", which other users may change; caches there are left alone.",
         "open", 0777},
        {{"shared/.cache/spotify/f=9"}, {}, {}, root ? "shared" : "/tmp", root ? "shared" : "",
         "Sweepkin: your home folder " + tmp + " is another user's; nothing is cleaned.", "shared",
         01777}};
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.tree));
        resetHome();
        makeTree(tmp_.path(), row.tree);
        if (!row.chmodAt.empty()) ::chmod((tmp_ / row.chmodAt).c_str(), row.mode);
        if (!row.others.empty()) {
            ASSERT_TRUE(chownToAnother(tmp_ / row.others));
        }
        home_ = row.home == "/tmp" ? row.home : tmp_.path() + "/" + row.home;
        extraEnv_ = row.env;
        Fingerprint expected = fingerprint(tmp_.path(), false);
        for (const std::string& gone : row.gone) forget(expected, gone);
        const RunResult said =
            sweepkin({}, {"sh", "-c", "exec \"$0\" --version 2>&1", SWEEPKIN_BINARY});
        EXPECT_EQ(said.out, (row.said.empty() ? "" : row.said + "\n") + "Sweepkin 4.0\n");
        std::istringstream lines(sweepkin({"--every-target"}, {SWEEPKIN_DELETION_DRIVER}).out);
        int targets = 0;
        for (std::string line; std::getline(lines, line); ++targets) {
            std::smatch m;
            ASSERT_TRUE(std::regex_search(line, m, std::regex(" (\\d+) (\\d+) 0$"))) << line;
            EXPECT_EQ(m.str(1), m.str(2)) << line;
        }
        EXPECT_EQ(targets, static_cast<int>(buildCacheTargets().size()));
        EXPECT_EQ(fingerprint(tmp_.path(), false), expected);
        home_ = me;
    }
    // In a user namespace that maps root alone (entered as an account other than root), one that
    // maps nobody, and one that maps the user as the overflow id (which every owner it does not
    // map shows as): nothing is cleaned, and the line says why. Then a sandbox's ~/.var/app.
    const std::string user = root ? "setpriv --reuid=1 --regid=1 --clear-groups " : "";
    const std::string unmappedRoot = "Sweepkin: your home folder " + me +
                                     " is reached through /, whose owner this user namespace "
                                     "does not map; nothing is cleaned.";
    const std::pair<std::string, std::string> namespaces[] = {
        {user + "unshare -Ur ", unmappedRoot},
        {"unshare --user ",
         "Sweepkin: this user namespace does not map your own user, so your folders cannot be "
         "told from other users'; nothing is cleaned."},
        {"unshare --map-user=" + std::to_string(kOtherUid) + " --map-group=" +
             std::to_string(kOtherGid) + " ",
         unmappedRoot},
        {root ? "unshare -m --propagation private sh -c \"mount -t tmpfs t $HOME/.var/app && mkdir "
                "$HOME/.var/app/org.sweepkin.Sweepkin && exec \\\"\\$@\\\"\" - "
              : "",
         "Sweepkin: Flatpak applications' folders are hidden from this sandbox (~/.var/app holds "
         "only Sweepkin's own); their caches are not cleaned."}};
    int entered = 0;
    for (const auto& [prefix, line] : namespaces) {
        SCOPED_TRACE(prefix);
        resetHome();
        makeTree(tmp_.path(), {"home/.cache/thumbnails/normal/a.png=9", "home/.var/app/"});
        if (prefix.empty() || sweepkin({}, {"sh", "-c", prefix + "true 2>/dev/null"}).status != 0) {
            continue;
        }
        ++entered;
        const Fingerprint before = fingerprint(tmp_.path(), false);
        const std::string run = "exec " + prefix + "\"$0\" \"$1\" 2>&1";
        EXPECT_EQ(sweepkin({}, {"sh", "-c", run, SWEEPKIN_BINARY, "--version"}).out,
                  line + "\nSweepkin 4.0\n");
        if (prefix.starts_with("unshare -m")) continue;
        sweepkin({}, {"sh", "-c", run, SWEEPKIN_DELETION_DRIVER, "--every-target"});
        EXPECT_EQ(fingerprint(tmp_.path(), false), before);
    }
    if (entered == 0) GTEST_SKIP() << "no user namespaces here";
}

// The earlier report stays whole when the new one finds no room; the next write clears the
// temporary files of killed writers.
TEST(CleanupReport, IsAlwaysTheOldOrTheNewOneUnderFaults) {
    ScratchDir tmp;
    const std::string report = tmp / "report.md";
    const std::vector<std::string> b(5000, std::string(100, 'B')), n(5000, std::string(100, 'n'));
    const auto text = [&] {  // without the time stamp
        const std::string all = readText(report);
        return all.substr(0, all.find("\n\n**")) +
               all.substr(std::min(all.find("\n\n**") + 23, all.size()));
    };
    const auto leftovers = [&] {
        return std::distance(std::filesystem::directory_iterator(tmp.path()), {}) != 1;
    };
    ASSERT_TRUE(writeCleanupReport(report, b, 4, 5, 6));
    const std::string textB = text();
    const std::string noRoom = runInChild([&]() -> std::string {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return "";
        return writeCleanupReport(report, n, 1, 2, 3) ? "written" : "failed";
    });
    EXPECT_EQ(noRoom, "failed");
    EXPECT_TRUE(text() == textB && !leftovers());
    // Files beside the report are the user's, even when named like a temporary one.
    writeText(tmp / "report.md.backup", "a copy");
    std::filesystem::last_write_time(tmp / "report.md.backup",
                                     std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    ASSERT_TRUE(writeCleanupReport(report, b, 4, 5, 6));
    EXPECT_TRUE(readText(tmp / "report.md.backup") == "a copy");
    // A link at the report's name is replaced, never written through.
    writeText(tmp / "mine.txt", "a document");
    std::filesystem::remove(report);
    std::filesystem::create_symlink("mine.txt", report);
    ASSERT_TRUE(writeCleanupReport(report, b, 4, 5, 6));
    EXPECT_TRUE(readText(tmp / "mine.txt") == "a document" && !std::filesystem::is_symlink(report));
}

}  // namespace
}  // namespace sweepkin::fixtures
