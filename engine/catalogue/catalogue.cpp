#include "engine/catalogue/catalogue.h"

#include <initializer_list>
#include <string_view>

#include "engine/platform.h"

namespace sweepkin {

namespace {

using Names = std::initializer_list<std::string_view>;
using enum RootKind;

std::vector<std::string> strings(Names names) {
    return {names.begin(), names.end()};
}

// Builds one entry: its macOS locations, then (on Linux) whatever the calls below add.
class Entry {
  public:
    Entry(std::string name, std::optional<std::string> bundleID, ProcessRule process = {})
        : target_{std::move(name), std::move(bundleID), {}, std::move(process)} {}

    // `folder` below the root, and the items in it; no items: the folder itself.
    Entry& at(RootKind root, std::string folder, Names items = {""}, std::string app = {}) {
        target_.locations.push_back({root, std::move(app), std::move(folder), strings(items)});
        return *this;
    }
    Entry& linux(RootKind root, std::string folder, Names items = {""}, std::string app = {}) {
        if (kLinuxLocations) at(root, std::move(folder), items, std::move(app));
        return *this;
    }
    // A Chromium browser's Linux folders in one place: each channel's folder in the cache root,
    // then the caches inside each channel's folder in the config root. Within a snap the two
    // roots are the same folder, told apart by a prefix.
    Entry& chromium(RootKind cacheRoot, RootKind configRoot, const std::string& app, Names channels,
                    Names configCaches, std::string_view cachePrefix = {}) {
        for (std::string_view channel : channels) {
            linux(cacheRoot, std::string(cachePrefix) + std::string(channel), {""}, app);
        }
        for (std::string_view channel : channels) {
            linux(configRoot, std::string(channel), configCaches, app);
        }
        return *this;
    }
    AppTarget done() { return std::move(target_); }

  private:
    AppTarget target_;
};

const Names kSlackCaches = {"Cache", "Code Cache", "GPUCache", "Service Worker/CacheStorage"};
const Names kCodeCaches = {"Cache", "CachedData", "Code Cache", "GPUCache"};
// In a Chromium browser's config folder; "*" is the profile. Each profile's Cache and Code Cache
// normally live under the cache home, which the channel folder there covers as a whole.
const Names kChromeConfigCaches = {
    "GrShaderCache",
    "GraphiteDawnCache",
    "GPUPersistentCache",
    "ShaderCache",
    "*/Cache",
    "*/Code Cache",
    "*/GPUCache",
    "*/Service Worker/CacheStorage",
    "*/DawnGraphiteCache",
    "*/DawnWebGPUCache",
};
const Names kEdgeConfigCaches = {"*/Cache", "*/Code Cache", "*/GPUCache", "*/DawnGraphiteCache",
                                 "*/DawnWebGPUCache"};
// Firefox keeps its HTTP cache apart from the profile, one folder per profile ("*"); the profile
// itself, its offline site storage and the Safe Browsing lists stay.
const Names kFirefoxCaches = {"*/cache2", "*/startupCache", "*/thumbnails"};

}  // namespace

std::vector<AppTarget> buildCacheTargets() {
    std::vector<AppTarget> targets;
    targets.push_back(
        Entry("iCloud (CloudKit) cache", std::nullopt).at(LibraryCaches, "CloudKit").done());

    // Google's packages install the browser under /opt/google (one folder per channel);
    // "google-chrome" there is a launcher script that replaces itself with it.
    targets.push_back(
        Entry("Google Chrome", "com.google.Chrome",
              {.paths = {"/opt/google/chrome/chrome", "/opt/google/chrome-beta/chrome",
                         "/opt/google/chrome-unstable/chrome"},
               .flatpakIDs = {"com.google.Chrome"}})
            .at(LibraryCaches, "Google/Chrome")
            .at(LibraryAppSupport, "Google/Chrome",
                {"GrShaderCache", "GraphiteDawnCache", "GPUPersistentCache", "ShaderCache",
                 "*/Cache", "*/Code Cache", "*/GPUCache", "*/Service Worker/CacheStorage"})
            .chromium(CacheHome, ConfigHome, {},
                      {"google-chrome", "google-chrome-beta", "google-chrome-unstable"},
                      kChromeConfigCaches)
            .chromium(FlatpakCache, FlatpakConfig, "com.google.Chrome",
                      {"google-chrome", "google-chrome-beta", "google-chrome-unstable"},
                      kChromeConfigCaches)
            .done());

    // Only the desktop app: "claude" is also an unrelated terminal program. The Linux app has no
    // self-updater, so the two updater caches have no counterpart.
    targets.push_back(
        Entry("Claude (desktop app)", "com.anthropic.claudefordesktop",
              {.names = {"claude-desktop"}})
            .at(LibraryAppSupport, "Claude",
                {"Cache", "Code Cache", "GPUCache", "DawnGraphiteCache", "DawnWebGPUCache"})
            .at(LibraryCaches, "com.anthropic.claudefordesktop")
            .at(LibraryCaches, "com.anthropic.claudefordesktop.ShipIt")
            .linux(ConfigHome, "Claude",
                   {"Cache", "Code Cache", "GPUCache", "DawnGraphiteCache", "DawnWebGPUCache"})
            .done());

    targets.push_back(Entry("Safari", "com.apple.Safari")
                          .at(LibraryCaches, "com.apple.Safari")
                          .at(LibraryContainers, "com.apple.Safari", {"Data/Library/Caches"})
                          .done());

    // Linux keeps the HTTP cache and the persistent cache (offline downloads too) in one folder.
    targets.push_back(Entry("Spotify", "com.spotify.client", {.names = {"spotify"}})
                          .at(LibraryCaches, "com.spotify.client")
                          .at(LibraryAppSupport, "Spotify", {"PersistentCache"})
                          .linux(CacheHome, "spotify")
                          .linux(FlatpakCache, "spotify", {""}, "com.spotify.Client")
                          .linux(SnapCommon, ".cache/spotify", {""}, "spotify")
                          .done());

    targets.push_back(Entry("Slack", "com.tinyspeck.slackmacgap", {.names = {"slack"}})
                          .at(LibraryCaches, "com.tinyspeck.slackmacgap")
                          .at(LibraryAppSupport, "Slack", kSlackCaches)
                          .linux(ConfigHome, "Slack", kSlackCaches)
                          .linux(FlatpakConfig, "Slack", kSlackCaches, "com.slack.Slack")
                          .linux(SnapCurrent, ".config/Slack", kSlackCaches, "slack")
                          .done());

    targets.push_back(
        Entry("Microsoft Edge", "com.microsoft.edgemac",
              {.names = {"msedge", "microsoft-edge", "microsoft-edge-stable"}})
            .at(LibraryCaches, "Microsoft Edge")
            .at(LibraryAppSupport, "Microsoft Edge", {"*/Cache", "*/Code Cache", "*/GPUCache"})
            .chromium(CacheHome, ConfigHome, {},
                      {"microsoft-edge", "microsoft-edge-beta", "microsoft-edge-dev"},
                      kEdgeConfigCaches)
            .chromium(FlatpakCache, FlatpakConfig, "com.microsoft.Edge",
                      {"microsoft-edge", "microsoft-edge-beta", "microsoft-edge-dev"},
                      kEdgeConfigCaches)
            .done());

    targets.push_back(Entry("Visual Studio Code", "com.microsoft.VSCode", {.names = {"code"}})
                          .at(LibraryAppSupport, "Code", kCodeCaches)
                          .linux(ConfigHome, "Code", kCodeCaches)
                          .linux(FlatpakConfig, "Code", kCodeCaches, "com.visualstudio.code")
                          .linux(SnapCurrent, ".config/Code", kCodeCaches, "code")
                          .done());

    if (!kLinuxLocations) return targets;

    // The two browsers Linux desktops ship; they have no macOS entry. Every Firefox process runs
    // the same executable; its children carry "-contentproc".
    targets.push_back(
        Entry("Mozilla Firefox", "org.mozilla.firefox",
              {.names = {"firefox", "firefox-esr", "firefox-bin"},
               .flatpakIDs = {"org.mozilla.firefox"}})
            .linux(CacheHome, "mozilla/firefox", kFirefoxCaches)
            .linux(FlatpakCache, "mozilla/firefox", kFirefoxCaches, "org.mozilla.firefox")
            .linux(SnapCommon, ".cache/mozilla/firefox", kFirefoxCaches, "firefox")
            .done());

    // Distribution packages name it "chromium" ("chromium-browser" on some); the snap's
    // executable is "chrome" inside its revision folder, and the snap points the config folder
    // outside the config home, at common/chromium, so that profile holds Cache and Code Cache
    // itself.
    targets.push_back(Entry("Chromium", "org.chromium.Chromium",
                            {.names = {"chromium", "chromium-browser"},
                             .paths = {"/snap/chromium/*/usr/lib/chromium-browser/chrome"},
                             .flatpakIDs = {"org.chromium.Chromium"}})
                          .chromium(CacheHome, ConfigHome, {}, {"chromium"}, kChromeConfigCaches)
                          .chromium(FlatpakCache, FlatpakConfig, "org.chromium.Chromium",
                                    {"chromium"}, kChromeConfigCaches)
                          .chromium(SnapCommon, SnapCommon, "chromium", {"chromium"},
                                    kChromeConfigCaches, ".cache/")
                          .done());
    return targets;
}

ProcessRules processRulesOf(const std::vector<AppTarget>& targets) {
    ProcessRules rules;
    for (const AppTarget& target : targets) {
        if (target.bundleID) rules[*target.bundleID] = target.process;
    }
    return rules;
}

}  // namespace sweepkin
