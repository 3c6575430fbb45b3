#include "engine/app_target.h"

#include <string_view>

#include "engine/home.h"

namespace sweepkin {

namespace {

using Names = std::initializer_list<std::string_view>;

// Builds one entry: its macOS patterns first, tilde-expanded, then whatever `addLinux` appends.
class Entry {
  public:
    Entry(std::string name, std::optional<std::string> bundleID, Names macPatterns)
        : target_{std::move(name), std::move(bundleID), {}} {
        for (std::string_view pattern : macPatterns) target_.paths.push_back(expandTilde(pattern));
    }
    // `folder` + "/" + each name; nothing when there is no folder (a cache home left out).
    Entry& inside(const std::string& folder, Names names) {
        if (folder.empty()) return *this;
        for (std::string_view name : names)
            target_.paths.push_back(folder + "/" + std::string(name));
        return *this;
    }
    // A Chromium browser's Linux folders, for each (cache, config) pair in turn: each channel's
    // folder in the cache folder, then the cache folders inside each channel's folder in the
    // config folder. The pairs are the XDG folders, then the Flatpak and snap sandboxes' own.
    Entry& chromium(std::initializer_list<std::pair<std::string, std::string>> places,
                    Names channels, Names configCaches) {
        for (const auto& [cache, config] : places) {
            inside(cache, channels);
            for (std::string_view channel : channels) {
                inside(config + "/" + std::string(channel), configCaches);
            }
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

std::vector<AppTarget> buildCacheTargets(const std::string& cloudKitCachePath) {
    return buildCacheTargets(cloudKitCachePath, currentBaseDirs());
}

std::vector<AppTarget> buildCacheTargets(const std::string& cloudKitCachePath,
                                         const BaseDirs& dirs) {
    // The Linux builds keep the same kinds of folders under the XDG folders (native packages),
    // then in Flatpak's and snap's fixed folders, whose sandboxes ignore the host's variables.
    const std::string& cache = dirs.cacheHome;  // empty: left out
    const std::string& config = dirs.configHome;
    const std::string flatpak = expandTilde("~/.var/app");
    const std::string snap = expandTilde("~/snap");

    std::vector<AppTarget> targets;
    targets.push_back(AppTarget{"iCloud (CloudKit) cache", std::nullopt, {cloudKitCachePath}});

    Entry chrome("Google Chrome", "com.google.Chrome",
                 {
                     "~/Library/Caches/Google/Chrome",
                     "~/Library/Application Support/Google/Chrome/GrShaderCache",
                     "~/Library/Application Support/Google/Chrome/GraphiteDawnCache",
                     "~/Library/Application Support/Google/Chrome/GPUPersistentCache",
                     "~/Library/Application Support/Google/Chrome/ShaderCache",
                     "~/Library/Application Support/Google/Chrome/*/Cache",
                     "~/Library/Application Support/Google/Chrome/*/Code Cache",
                     "~/Library/Application Support/Google/Chrome/*/GPUCache",
                     "~/Library/Application Support/Google/Chrome/*/Service Worker/CacheStorage",
                 });
    if (kLinuxLocations) {
        const std::string sandbox = flatpak + "/com.google.Chrome";
        chrome.chromium({{cache, config}, {sandbox + "/cache", sandbox + "/config"}},
                        {"google-chrome", "google-chrome-beta", "google-chrome-unstable"},
                        kChromeConfigCaches);
    }
    targets.push_back(chrome.done());

    Entry claude("Claude (desktop app)", "com.anthropic.claudefordesktop",
                 {
                     "~/Library/Application Support/Claude/Cache",
                     "~/Library/Application Support/Claude/Code Cache",
                     "~/Library/Application Support/Claude/GPUCache",
                     "~/Library/Application Support/Claude/DawnGraphiteCache",
                     "~/Library/Application Support/Claude/DawnWebGPUCache",
                     "~/Library/Caches/com.anthropic.claudefordesktop",
                     "~/Library/Caches/com.anthropic.claudefordesktop.ShipIt",
                 });
    if (kLinuxLocations) {
        // The Linux app has no self-updater, so the two updater caches have no counterpart.
        claude.inside(config + "/Claude",
                      {"Cache", "Code Cache", "GPUCache", "DawnGraphiteCache", "DawnWebGPUCache"});
    }
    targets.push_back(claude.done());

    targets.push_back(Entry("Safari", "com.apple.Safari",
                            {
                                "~/Library/Caches/com.apple.Safari",
                                "~/Library/Containers/com.apple.Safari/Data/Library/Caches",
                            })
                          .done());

    Entry spotify("Spotify", "com.spotify.client",
                  {
                      "~/Library/Caches/com.spotify.client",
                      "~/Library/Application Support/Spotify/PersistentCache",
                  });
    if (kLinuxLocations) {
        // Linux keeps the HTTP cache and the persistent cache (offline downloads too) in one
        // folder.
        spotify.inside(cache, {"spotify"})
            .inside(flatpak + "/com.spotify.Client/cache", {"spotify"})
            .inside(snap + "/spotify/common/.cache", {"spotify"});
    }
    targets.push_back(spotify.done());

    Entry slack("Slack", "com.tinyspeck.slackmacgap",
                {
                    "~/Library/Caches/com.tinyspeck.slackmacgap",
                    "~/Library/Application Support/Slack/Cache",
                    "~/Library/Application Support/Slack/Code Cache",
                    "~/Library/Application Support/Slack/GPUCache",
                    "~/Library/Application Support/Slack/Service Worker/CacheStorage",
                });
    if (kLinuxLocations) {
        slack.inside(config + "/Slack", kSlackCaches)
            .inside(flatpak + "/com.slack.Slack/config/Slack", kSlackCaches)
            .inside(snap + "/slack/current/.config/Slack", kSlackCaches);
    }
    targets.push_back(slack.done());

    Entry edge("Microsoft Edge", "com.microsoft.edgemac",
               {
                   "~/Library/Caches/Microsoft Edge",
                   "~/Library/Application Support/Microsoft Edge/*/Cache",
                   "~/Library/Application Support/Microsoft Edge/*/Code Cache",
                   "~/Library/Application Support/Microsoft Edge/*/GPUCache",
               });
    if (kLinuxLocations) {
        const std::string sandbox = flatpak + "/com.microsoft.Edge";
        edge.chromium({{cache, config}, {sandbox + "/cache", sandbox + "/config"}},
                      {"microsoft-edge", "microsoft-edge-beta", "microsoft-edge-dev"},
                      kEdgeConfigCaches);
    }
    targets.push_back(edge.done());

    Entry code("Visual Studio Code", "com.microsoft.VSCode",
               {
                   "~/Library/Application Support/Code/Cache",
                   "~/Library/Application Support/Code/CachedData",
                   "~/Library/Application Support/Code/Code Cache",
                   "~/Library/Application Support/Code/GPUCache",
               });
    if (kLinuxLocations) {
        code.inside(config + "/Code", kCodeCaches)
            .inside(flatpak + "/com.visualstudio.code/config/Code", kCodeCaches)
            .inside(snap + "/code/current/.config/Code", kCodeCaches);
    }
    targets.push_back(code.done());

    if (kLinuxLocations) {
        // The two browsers Linux desktops ship; they have no macOS entry.
        const auto firefoxIn = [](const std::string& cacheFolder) {
            return cacheFolder.empty() ? cacheFolder : cacheFolder + "/mozilla/firefox";
        };
        targets.push_back(
            Entry("Mozilla Firefox", "org.mozilla.firefox", {})
                .inside(firefoxIn(cache), kFirefoxCaches)
                .inside(firefoxIn(flatpak + "/org.mozilla.firefox/cache"), kFirefoxCaches)
                .inside(firefoxIn(snap + "/firefox/common/.cache"), kFirefoxCaches)
                .done());

        // The snap points Chromium's config folder outside the config home, at common/chromium,
        // so that profile holds Cache and Code Cache itself.
        const std::string sandbox = flatpak + "/org.chromium.Chromium";
        targets.push_back(
            Entry("Chromium", "org.chromium.Chromium", {})
                .chromium({{cache, config},
                           {sandbox + "/cache", sandbox + "/config"},
                           {snap + "/chromium/common/.cache", snap + "/chromium/common"}},
                          {"chromium"}, kChromeConfigCaches)
                .done());
    }
    return targets;
}

}  // namespace sweepkin
