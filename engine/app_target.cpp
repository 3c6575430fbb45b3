#include "engine/app_target.h"

#include "engine/home.h"

namespace sweepkin {

namespace {

AppTarget entry(std::string name, std::optional<std::string> bundleID,
                std::initializer_list<const char*> patterns) {
    AppTarget target{std::move(name), std::move(bundleID), {}};
    for (const char* pattern : patterns) target.paths.push_back(expandTilde(pattern));
    return target;
}

}  // namespace

std::vector<AppTarget> buildCacheTargets(const std::string& cloudKitCachePath) {
    std::vector<AppTarget> targets;
    targets.push_back(AppTarget{"iCloud (CloudKit) cache", std::nullopt, {cloudKitCachePath}});
    targets.push_back(entry("Google Chrome", "com.google.Chrome",
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
                            }));
    targets.push_back(entry("Claude (desktop app)", "com.anthropic.claudefordesktop",
                            {
                                "~/Library/Application Support/Claude/Cache",
                                "~/Library/Application Support/Claude/Code Cache",
                                "~/Library/Application Support/Claude/GPUCache",
                                "~/Library/Application Support/Claude/DawnGraphiteCache",
                                "~/Library/Application Support/Claude/DawnWebGPUCache",
                                "~/Library/Caches/com.anthropic.claudefordesktop",
                                "~/Library/Caches/com.anthropic.claudefordesktop.ShipIt",
                            }));
    targets.push_back(entry("Safari", "com.apple.Safari",
                            {
                                "~/Library/Caches/com.apple.Safari",
                                "~/Library/Containers/com.apple.Safari/Data/Library/Caches",
                            }));
    targets.push_back(entry("Spotify", "com.spotify.client",
                            {
                                "~/Library/Caches/com.spotify.client",
                                "~/Library/Application Support/Spotify/PersistentCache",
                            }));
    targets.push_back(entry("Slack", "com.tinyspeck.slackmacgap",
                            {
                                "~/Library/Caches/com.tinyspeck.slackmacgap",
                                "~/Library/Application Support/Slack/Cache",
                                "~/Library/Application Support/Slack/Code Cache",
                                "~/Library/Application Support/Slack/GPUCache",
                                "~/Library/Application Support/Slack/Service Worker/CacheStorage",
                            }));
    targets.push_back(entry("Microsoft Edge", "com.microsoft.edgemac",
                            {
                                "~/Library/Caches/Microsoft Edge",
                                "~/Library/Application Support/Microsoft Edge/*/Cache",
                                "~/Library/Application Support/Microsoft Edge/*/Code Cache",
                                "~/Library/Application Support/Microsoft Edge/*/GPUCache",
                            }));
    targets.push_back(entry("Visual Studio Code", "com.microsoft.VSCode",
                            {
                                "~/Library/Application Support/Code/Cache",
                                "~/Library/Application Support/Code/CachedData",
                                "~/Library/Application Support/Code/Code Cache",
                                "~/Library/Application Support/Code/GPUCache",
                            }));
    return targets;
}

}  // namespace sweepkin
