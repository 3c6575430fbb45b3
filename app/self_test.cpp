#include "app/self_test.h"

#include <cstdint>
#include <string>
#include <vector>

#include "app/output.h"
#include "engine/catalogue/pattern.h"
#include "engine/fs/base_dirs.h"
#include "engine/fs/home.h"
#include "engine/fs/link_policy.h"
#include "engine/fs/places.h"
#include "engine/fs/resolver.h"
#include "engine/fs/safety_guard.h"
#include "engine/fs/sizes.h"
#include "engine/process_values.h"
#include "engine/resources.h"

namespace sweepkin {

namespace {

// A target at or above this many bytes gets a panel row; the dry run says so with "WOULD LIST".
constexpr std::int64_t kListThreshold = 1'000'000;

// The target's line, then one line for each folder or item left alone on its way and the rule
// that refused it.
std::string targetLines(const AppTarget& target, Resolver& resolver) {
    const std::size_t known = resolver.refusals().size();
    std::vector<Stayed> stayed;
    const std::vector<Item> items = resolver.items(target.locations, &stayed);
    std::string text;
    if (items.empty()) {
        text = "  · " + target.name + ": not installed / no cache";
    } else {
        const std::int64_t total = pathsSize(items);
        text = "  · " + target.name + ": " + formatBytes(total) + "  [" +
               (total >= kListThreshold ? "WOULD LIST" : "hidden (<1 MB)") + "]  — " +
               std::to_string(items.size()) + " folder(s)";
    }
    for (std::size_t i = known; i < resolver.refusals().size(); ++i) {
        const Refused& refused = resolver.refusals()[i];
        text += "\n      left alone: " + abbreviateTilde(refused.path) + " (" +
                std::string(refusalText(refused.why)) + ")";
    }
    for (const Stayed& item : stayed) {
        if (item.why == Failure::NotCache)
            text += "\n      left alone: " + abbreviateTilde(item.path) + " (not a cache)";
    }
    return text;
}

}  // namespace

std::vector<GuardCase> selfTestGuardCases(const ProcessValues& values, bool foldersInUse) {
    std::vector<GuardCase> cases{{values.cloudKitCachePath, true}};
    for (const char* path : {
             "~/Library/Caches/com.apple.Safari",
             "~/Library/Containers/com.apple.Safari/Data/Library/Caches",
             "~/Library/Application Support/Google/Chrome/Default/Cache",
             "~/Library/Application Support/Code/GPUCache",
             "~/Library/Application Support/Slack/Service Worker/CacheStorage",
         }) {
        cases.push_back({expandTilde(path), true});
    }
    for (const char* path : {
             "~/Library/Application Support/Google/Chrome/Default",
             "~/Library/Application Support/Google/Chrome/Default/Cookies",
             "~/Library/Application Support/Google/Chrome/Default/History",
             "~/Library/Application Support/Google/Chrome/Default/Login Data",
             "~/Library/Application Support/Google/Chrome/Default/Bookmarks",
             "~/Library/Application Support/Google/Chrome/Default/Local Storage",
             "~/Library/Application Support/Claude/claude-code-sessions",
             "~/Library/Safari/History.db",
             "~/Documents",
         }) {
        cases.push_back({expandTilde(path), false});
    }
    // The live home folder, not a stored text: the guard must never admit the whole home.
    cases.push_back({homeDirectory(), false});
    if (foldersInUse) {
        // The folders this system really uses: one cache folder per Linux application (none
        // under a cache home that was left out), then profile data beside them.
        const std::string& cache = values.baseDirs.cacheHome;
        const std::string& config = values.baseDirs.configHome;
        const std::string& data = values.baseDirs.dataHome;
        const std::string home = homePrefix(homeDirectory());
        const std::pair<const std::string&, const char*> allowed[] = {
            {cache, "/google-chrome"},   {config, "/Claude/Cache"},
            {cache, "/spotify"},         {config, "/Slack/Cache"},
            {cache, "/microsoft-edge"},  {config, "/Code/CachedData"},
            {cache, "/mozilla/firefox"}, {cache, "/chromium"},
            {cache, "/thumbnails"},      {home, "/.npm/_cacache"},
            {config, "/discord/Cache"},  {data, "/Steam/steamapps/shadercache"},
        };
        for (const auto& [folder, below] : allowed) {
            if (!folder.empty()) cases.push_back({folder + below, true});
        }
        // The developer tools' folders in use, where their variables put them.
        const auto tool = [&](const char* variable) { return values.baseDirs.tools.at(variable); };
        const std::pair<std::string, const char*> tools[] = {
            {tool("GRADLE_USER_HOME"), "/caches"},
            {tool("CCACHE_DIR"), ""},
            {tool("CARGO_HOME"), "/registry/cache"},
            {tool("HF_HOME"), "/hub"},
        };
        for (const auto& [folder, below] : tools) {
            if (!folder.empty()) cases.push_back({folder + below, true});
        }
        for (const std::string& path : {
                 config + "/google-chrome/Default/Cookies",
                 config + "/google-chrome/Local State",
                 config + "/Code/User",
                 config + "/Slack/storage",
                 config + "/spotify",
                 config + "/Claude/config.json",
                 expandTilde("~/.var/app/com.spotify.Client/config/spotify"),
                 config,
                 expandTilde("~/.mozilla/firefox"),
                 config + "/mozilla/firefox",
                 config + "/chromium/Default/Cookies",
                 config + "/Signal/attachments.noindex",
                 config + "/discord",
                 home + "/.thunderbird",
                 data + "/Steam/steamapps/common",
                 home + "/.npm",
                 home + "/.gradle/gradle.properties",
                 home + "/.cargo/bin",
                 home + "/go/bin",
             }) {
            cases.push_back({path, false});
        }
    }
    return cases;
}

namespace {

// What a tool keeps beside its caches inside the cache home, where the guard admits everything:
// no row may name it, nor a folder it lies in.
std::vector<std::string> keptCases(const ProcessValues& values) {
    if (!kLinuxLocations) return {};
    std::vector<std::string> cases;
    const std::string& hf = values.baseDirs.tools.at("HF_HOME");
    if (!hf.empty()) cases.push_back(hf + "/token");
    if (!values.baseDirs.cacheHome.empty()) {
        cases.push_back(values.baseDirs.cacheHome + "/JetBrains/IntelliJIdea2024.2/LocalHistory");
    }
    return cases;
}

// Some location's item, as the resolver would expand it, is `path` or a folder above it.
bool namedByARow(const std::string& path, const std::vector<AppTarget>& targets,
                 const Resolver& resolver) {
    const std::vector<std::string_view> at = pathComponents(path);
    for (const AppTarget& target : targets) {
        for (const Location& location : target.locations) {
            for (const std::string& pattern : resolver.patterns(location)) {
                const std::vector<std::string_view> parts = pathComponents(pattern);
                if (parts.size() > at.size()) continue;
                std::size_t i = 0;
                while (i < parts.size() && wildcardMatch(parts[i], at[i])) ++i;
                if (i == parts.size()) return true;
            }
        }
    }
    return false;
}

}  // namespace

bool runSelfTest(std::FILE* out, const ProcessValues& values) {
    return runSelfTest(out, values, [](std::string_view path) { return isSafeCachePath(path); });
}

bool runSelfTest(std::FILE* out, const ProcessValues& values, const CachePathPredicate& isSafe) {

    printLine(out, "Sweepkin — self test (DRY RUN, deletes nothing)");
    printLine(out, std::string(56, '='));
    printLine(out, "Caches found (only those > 1 MB are shown in the panel):");
    Resolver resolver(currentPlaces());
    for (const AppTarget& target : values.cacheTargets) {
        printLine(out, targetLines(target, resolver));
    }

    printLine(out, "");
    printLine(out, "SAFETY GUARD (isSafeCachePath) — must ALLOW caches, must REFUSE data:");
    bool allPassed = true;
    for (const GuardCase& check : selfTestGuardCases(values)) {
        const bool passed = isSafe(check.path) == check.mustAllow;
        allPassed = allPassed && passed;
        printLine(out, std::string("  ") + (passed ? "PASS" : "FAIL ✗") +
                           (check.mustAllow ? "  allow   " : "  refuse  ") +
                           abbreviateTilde(check.path));
    }

    const std::vector<std::string> kept = keptCases(values);
    if (!kept.empty()) {
        printLine(out, "");
        printLine(out, "CATALOGUE — no row may name what a tool keeps beside its caches:");
    }
    for (const std::string& path : kept) {
        const bool passed = !namedByARow(path, values.cacheTargets, resolver);
        allPassed = allPassed && passed;
        printLine(out, std::string("  ") + (passed ? "PASS" : "FAIL ✗") + "  kept    " +
                           abbreviateTilde(path));
    }

    printLine(out, "");
    printLine(out, resourcePath(kLicenseFileName) ? "  PASS  license text bundled"
                                                  : "  WARN  license text bundled");
    printLine(out, "");
    printLine(out, allPassed ? "✓ ALL SAFETY CHECKS PASSED" : "✗ SAFETY CHECKS FAILED");
    return allPassed;
}

}  // namespace sweepkin
