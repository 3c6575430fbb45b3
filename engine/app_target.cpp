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
    // `folder` + "/" + each name.
    Entry& inside(const std::string& folder, Names names) {
        for (std::string_view name : names)
            target_.paths.push_back(folder + "/" + std::string(name));
        return *this;
    }
    // A Chromium browser's Linux folders: its channel folders under the cache home, the cache
    // folders inside its channel folders in the config home, and the same two in its Flatpak
    // sandbox (`sandbox`), whose cache and config folders stand in for the XDG ones.
    Entry& chromium(const BaseDirs& dirs, const std::string& sandbox, const std::string& channels,
                    Names configCaches) {
        for (const auto& [cache, config] : {std::pair{dirs.cacheHome, dirs.configHome},
                                            {sandbox + "/cache", sandbox + "/config"}}) {
            inside(cache, {channels}).inside(config + "/" + channels, configCaches);
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
    "GrShaderCache", "GraphiteDawnCache", "GPUPersistentCache", "ShaderCache",
    "*/Cache",       "*/Code Cache",      "*/GPUCache",         "*/Service Worker/CacheStorage",
};
const Names kEdgeConfigCaches = {"*/Cache", "*/Code Cache", "*/GPUCache"};

}  // namespace

std::vector<AppTarget> buildCacheTargets(const std::string& cloudKitCachePath) {
    return buildCacheTargets(cloudKitCachePath, currentBaseDirs());
}

std::vector<AppTarget> buildCacheTargets(const std::string& cloudKitCachePath,
                                         const BaseDirs& dirs) {
    // The Linux builds keep the same kinds of folders under the XDG folders (native packages),
    // then in Flatpak's and snap's fixed folders, whose sandboxes ignore the host's variables.
    const std::string& cache = dirs.cacheHome;
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
        chrome.chromium(dirs, flatpak + "/com.google.Chrome", "google-chrome*",
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
        edge.chromium(dirs, flatpak + "/com.microsoft.Edge", "microsoft-edge*", kEdgeConfigCaches);
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
    return targets;
}

}  // namespace sweepkin
