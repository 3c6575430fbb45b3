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

const Names kElectronCaches = {"Cache",     "Code Cache",        "GPUCache",
                               "DawnCache", "DawnGraphiteCache", "DawnWebGPUCache"};
const Names kSlackCaches = {"Cache", "Code Cache", "GPUCache", "Service Worker/CacheStorage"};
const Names kCodeCaches = {"Cache", "CachedData", "Code Cache", "GPUCache"};
// On Linux the extensions' downloaded packages too (the user data folder's CachedExtensionVSIXs).
const Names kCodeLinuxCaches = {"Cache", "CachedData", "CachedExtensionVSIXs", "Code Cache",
                                "GPUCache"};
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

// Builds one entry: its macOS locations, then (on Linux) whatever the calls below add.
class Entry {
  public:
    Entry(std::string id, std::string name, std::optional<std::string> bundleID,
          ProcessRule process = {})
        : target_{std::move(id), std::move(name), std::move(bundleID), {}, std::move(process)} {}

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
    // An Electron application's caches inside its config folder.
    Entry& electron(RootKind root, std::string folder, const std::string& app = {}) {
        return linux(root, std::move(folder), kElectronCaches, app);
    }
    // A folder a tool's own variable may move (see the XDG folders), and the items in it.
    Entry& tool(ToolVariable variable, Names items = {""}) {
        if (!kLinuxLocations) return *this;
        at(ToolFolder, {}, items, variable.name);
        target_.tools.push_back(std::move(variable));
        return *this;
    }
    Entry& icons(Names names) {
        target_.icons = strings(names);
        return *this;
    }
    Entry& startsUnticked() {
        target_.startsUnticked = true;
        return *this;
    }
    AppTarget done() { return std::move(target_); }

  private:
    AppTarget target_;
};

}  // namespace

std::vector<AppTarget> buildCacheTargets() {
    std::vector<AppTarget> targets;
    targets.push_back(Entry("icloud-cloudkit-cache", "iCloud (CloudKit) cache", std::nullopt)
                          .at(LibraryCaches, "CloudKit")
                          .done());

    // Google's packages install the browser under /opt/google (one folder per channel);
    // "google-chrome" there is a launcher script that replaces itself with it.
    targets.push_back(
        Entry("google-chrome", "Google Chrome", "com.google.Chrome",
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
            .icons({"google-chrome", "com.google.Chrome"})
            .done());

    // Only the desktop app: "claude" is also an unrelated terminal program. The Linux app has no
    // self-updater, so the two updater caches have no counterpart.
    targets.push_back(
        Entry("claude-desktop-app", "Claude (desktop app)", "com.anthropic.claudefordesktop",
              {.names = {"claude-desktop"}})
            .at(LibraryAppSupport, "Claude",
                {"Cache", "Code Cache", "GPUCache", "DawnGraphiteCache", "DawnWebGPUCache"})
            .at(LibraryCaches, "com.anthropic.claudefordesktop")
            .at(LibraryCaches, "com.anthropic.claudefordesktop.ShipIt")
            .linux(ConfigHome, "Claude",
                   {"Cache", "Code Cache", "GPUCache", "DawnGraphiteCache", "DawnWebGPUCache"})
            .icons({"claude-desktop", "claude"})
            .done());

    targets.push_back(Entry("safari", "Safari", "com.apple.Safari")
                          .at(LibraryCaches, "com.apple.Safari")
                          .at(LibraryContainers, "com.apple.Safari", {"Data/Library/Caches"})
                          .done());

    // Linux keeps the HTTP cache and the persistent cache (offline downloads too) in one folder.
    targets.push_back(Entry("spotify", "Spotify", "com.spotify.client", {.names = {"spotify"}})
                          .at(LibraryCaches, "com.spotify.client")
                          .at(LibraryAppSupport, "Spotify", {"PersistentCache"})
                          .linux(CacheHome, "spotify")
                          .linux(FlatpakCache, "spotify", {""}, "com.spotify.Client")
                          .linux(SnapCommon, ".cache/spotify", {""}, "spotify")
                          .icons({"spotify-client", "spotify", "com.spotify.Client"})
                          .done());

    targets.push_back(Entry("slack", "Slack", "com.tinyspeck.slackmacgap", {.names = {"slack"}})
                          .at(LibraryCaches, "com.tinyspeck.slackmacgap")
                          .at(LibraryAppSupport, "Slack", kSlackCaches)
                          .linux(ConfigHome, "Slack", kSlackCaches)
                          .linux(FlatpakConfig, "Slack", kSlackCaches, "com.slack.Slack")
                          .linux(SnapCurrent, ".config/Slack", kSlackCaches, "slack")
                          .icons({"slack", "com.slack.Slack"})
                          .done());

    targets.push_back(
        Entry("microsoft-edge", "Microsoft Edge", "com.microsoft.edgemac",
              {.names = {"msedge", "microsoft-edge", "microsoft-edge-stable"}})
            .at(LibraryCaches, "Microsoft Edge")
            .at(LibraryAppSupport, "Microsoft Edge", {"*/Cache", "*/Code Cache", "*/GPUCache"})
            .chromium(CacheHome, ConfigHome, {},
                      {"microsoft-edge", "microsoft-edge-beta", "microsoft-edge-dev"},
                      kEdgeConfigCaches)
            .chromium(FlatpakCache, FlatpakConfig, "com.microsoft.Edge",
                      {"microsoft-edge", "microsoft-edge-beta", "microsoft-edge-dev"},
                      kEdgeConfigCaches)
            .icons({"microsoft-edge", "com.microsoft.Edge"})
            .done());

    targets.push_back(Entry("visual-studio-code", "Visual Studio Code", "com.microsoft.VSCode",
                            {.names = {"code"}})
                          .at(LibraryAppSupport, "Code", kCodeCaches)
                          .linux(ConfigHome, "Code", kCodeLinuxCaches)
                          .linux(FlatpakConfig, "Code", kCodeLinuxCaches, "com.visualstudio.code")
                          .linux(SnapCurrent, ".config/Code", kCodeLinuxCaches, "code")
                          .icons({"code", "vscode", "com.visualstudio.code"})
                          .done());

    if (!kLinuxLocations) return targets;

    // The two browsers Linux desktops ship; they have no macOS entry. Every Firefox process runs
    // the same executable; its children carry "-contentproc".
    targets.push_back(
        Entry("mozilla-firefox", "Mozilla Firefox", "org.mozilla.firefox",
              {.names = {"firefox", "firefox-esr", "firefox-bin"},
               .flatpakIDs = {"org.mozilla.firefox"}})
            .linux(CacheHome, "mozilla/firefox", kFirefoxCaches)
            .linux(FlatpakCache, "mozilla/firefox", kFirefoxCaches, "org.mozilla.firefox")
            .linux(SnapCommon, ".cache/mozilla/firefox", kFirefoxCaches, "firefox")
            .icons({"firefox", "firefox-esr", "org.mozilla.firefox"})
            .done());

    // Distribution packages name it "chromium" ("chromium-browser" on some); the snap's
    // executable is "chrome" inside its revision folder, and the snap points the config folder
    // outside the config home, at common/chromium, so that profile holds Cache and Code Cache
    // itself.
    targets.push_back(Entry("chromium", "Chromium", "org.chromium.Chromium",
                            {.names = {"chromium", "chromium-browser"},
                             .paths = {"/snap/chromium/*/usr/lib/chromium-browser/chrome"},
                             .flatpakIDs = {"org.chromium.Chromium"}})
                          .chromium(CacheHome, ConfigHome, {}, {"chromium"}, kChromeConfigCaches)
                          .chromium(FlatpakCache, FlatpakConfig, "org.chromium.Chromium",
                                    {"chromium"}, kChromeConfigCaches)
                          .chromium(SnapCommon, SnapCommon, "chromium", {"chromium"},
                                    kChromeConfigCaches, ".cache/")
                          .icons({"chromium", "chromium-browser", "org.chromium.Chromium"})
                          .done());

    // Chromium's other browsers keep Chrome's layout under their own folder names; only the
    // channels their own packaging names are listed. Each is told apart by the full path of its
    // executable, which every helper process shares; a channel other than stable installs beside
    // it, in a folder named for the channel (Chromium's installer does so).
    targets.push_back(
        Entry("brave", "Brave", "com.brave.Browser",
              {.paths = {"/opt/brave.com/brave/brave", "/opt/brave.com/brave-beta/brave",
                         "/opt/brave.com/brave-nightly/brave",
                         "/snap/brave/*/opt/brave.com/brave/brave"},
               .flatpakIDs = {"com.brave.Browser"}})
            .chromium(CacheHome, ConfigHome, {},
                      {"BraveSoftware/Brave-Browser", "BraveSoftware/Brave-Browser-Beta",
                       "BraveSoftware/Brave-Browser-Nightly"},
                      kChromeConfigCaches)
            .chromium(FlatpakCache, FlatpakConfig, "com.brave.Browser",
                      {"BraveSoftware/Brave-Browser"}, kChromeConfigCaches)
            // The snap's launcher points the cache home at its common folder.
            .linux(SnapCommon, ".cache/BraveSoftware/Brave-Browser", {""}, "brave")
            .icons({"brave-browser", "com.brave.Browser"})
            .done());
    targets.push_back(
        Entry("vivaldi", "Vivaldi", "com.vivaldi.Vivaldi",
              {.paths = {"/opt/vivaldi/vivaldi-bin", "/snap/vivaldi/*/opt/vivaldi/vivaldi-bin"},
               .flatpakIDs = {"com.vivaldi.Vivaldi"}})
            .chromium(CacheHome, ConfigHome, {}, {"vivaldi"}, kChromeConfigCaches)
            .chromium(FlatpakCache, FlatpakConfig, "com.vivaldi.Vivaldi", {"vivaldi"},
                      kChromeConfigCaches)
            // The snap's cache home is its common folder, its config home the revision's.
            .linux(SnapCommon, ".cache/vivaldi", {""}, "vivaldi")
            .linux(SnapCurrent, ".config/vivaldi", kChromeConfigCaches, "vivaldi")
            .icons({"vivaldi", "com.vivaldi.Vivaldi"})
            .done());
    targets.push_back(Entry("opera", "Opera", "com.opera.Opera",
                            {.paths = {"/usr/lib/x86_64-linux-gnu/opera/opera"},
                             .flatpakIDs = {"com.opera.Opera"}})
                          .chromium(CacheHome, ConfigHome, {}, {"opera"}, kChromeConfigCaches)
                          .chromium(FlatpakCache, FlatpakConfig, "com.opera.Opera", {"opera"},
                                    kChromeConfigCaches)
                          .icons({"opera", "com.opera.Opera"})
                          .done());

    // Beside its caches the cache folder holds the HSTS policies and the filter lists, which are
    // not rebuilt offline. Its helpers are WebKitGTK's, shared with other applications.
    const Names epiphanyCaches = {"WebKitCache", "CacheStorage", "icondatabase", "thumbnails"};
    targets.push_back(Entry("gnome-web", "GNOME Web", "org.gnome.Epiphany",
                            {.paths = {"/usr/bin/epiphany"}, .flatpakIDs = {"org.gnome.Epiphany"}})
                          .linux(CacheHome, "epiphany", epiphanyCaches)
                          .linux(FlatpakCache, "epiphany", epiphanyCaches, "org.gnome.Epiphany")
                          .icons({"org.gnome.Epiphany", "epiphany"})
                          .done());

    // Every Thunderbird process runs the same executable; its children carry "-contentproc".
    const Names thunderbirdCaches = {"*/cache2", "*/startupCache"};
    targets.push_back(
        Entry("thunderbird", "Thunderbird", "org.mozilla.Thunderbird",
              {.paths = {"/usr/lib/thunderbird/thunderbird-bin",
                         "/snap/thunderbird/*/usr/lib/thunderbird/thunderbird-bin"},
               .flatpakIDs = {"org.mozilla.Thunderbird"}})
            .linux(CacheHome, "thunderbird", thunderbirdCaches)
            .linux(FlatpakCache, "thunderbird", thunderbirdCaches, "org.mozilla.Thunderbird")
            .linux(SnapCommon, ".cache/thunderbird", thunderbirdCaches, "thunderbird")
            .icons({"thunderbird", "org.mozilla.Thunderbird"})
            .done());

    // Electron applications; the snaps point their config folder at the revision's own.
    targets.push_back(
        Entry("discord", "Discord", "com.discordapp.Discord",
              {.paths = {"/usr/share/discord/Discord", "/snap/discord/*/usr/share/discord/Discord"},
               .flatpakIDs = {"com.discordapp.Discord"}})
            .electron(ConfigHome, "discord")
            .electron(FlatpakConfig, "discord", "com.discordapp.Discord")
            .electron(SnapCurrent, ".config/discord", "discord")
            .icons({"discord", "com.discordapp.Discord"})
            .done());
    targets.push_back(Entry("signal", "Signal", "org.signal.Signal",
                            {.paths = {"/opt/Signal/signal-desktop",
                                       "/snap/signal-desktop/*/opt/Signal/signal-desktop"},
                             .flatpakIDs = {"org.signal.Signal"}})
                          .electron(ConfigHome, "Signal")
                          .electron(FlatpakConfig, "Signal", "org.signal.Signal")
                          .electron(SnapCurrent, ".config/Signal", "signal-desktop")
                          .icons({"signal-desktop", "org.signal.Signal"})
                          .done());
    targets.push_back(
        Entry("element", "Element", "im.riot.Riot",
              {.paths = {"/opt/Element/element-desktop"}, .flatpakIDs = {"im.riot.Riot"}})
            .electron(ConfigHome, "Element")
            .electron(FlatpakConfig, "Element", "im.riot.Riot")
            .icons({"element-desktop", "im.riot.Riot"})
            .done());
    targets.push_back(
        Entry("obsidian", "Obsidian", "md.obsidian.Obsidian",
              {.paths = {"/opt/Obsidian/obsidian"}, .flatpakIDs = {"md.obsidian.Obsidian"}})
            .electron(ConfigHome, "obsidian")
            .electron(FlatpakConfig, "obsidian", "md.obsidian.Obsidian")
            .icons({"obsidian", "md.obsidian.Obsidian"})
            .done());

    // Caches no application owns: nothing to close.
    targets.push_back(Entry("file-thumbnails", "File thumbnails", std::nullopt)
                          .linux(CacheHome, "thumbnails")
                          .icons({"folder-pictures", "image-x-generic"})
                          .done());
    targets.push_back(Entry("graphics-shader-caches", "Graphics shader caches", std::nullopt)
                          .linux(CacheHome, "mesa_shader_cache")
                          .linux(CacheHome, "mesa_shader_cache_db")
                          // NVIDIA's driver: its folder since 460, and the one before; the
                          // compute cache and the rest of those folders stay.
                          .linux(Home, ".cache/nvidia", {"GLCache"})
                          .linux(Home, ".nv", {"GLCache"})
                          .icons({"video-display"})
                          .done());

    // Steam's pre-compiled shaders, beside the games, their saves and Proton's prefixes. Debian's
    // installer puts Steam in ~/.steam/debian-installation, Valve's launcher in the data home;
    // the Flatpak keeps its own home in its sandbox folder. Rebuilding them costs each game
    // minutes of full CPU, so the row comes unticked the first time.
    const Names shaders = {"shadercache"};
    targets.push_back(
        Entry("steam-shader-caches", "Steam shader caches", "com.valvesoftware.Steam",
              {.paths = {"~/.local/share/Steam/ubuntu12_32/steam",
                         "~/.steam/debian-installation/ubuntu12_32/steam",
                         "~/snap/steam/common/.local/share/Steam/ubuntu12_32/steam"},
               .flatpakIDs = {"com.valvesoftware.Steam"}})
            .linux(DataHome, "Steam/steamapps", shaders)
            .linux(Home, ".steam/debian-installation/steamapps", shaders)
            .linux(FlatpakHome, ".local/share/Steam/steamapps", shaders, "com.valvesoftware.Steam")
            .linux(SnapCommon, ".local/share/Steam/steamapps", shaders, "steam")
            .icons({"steam", "com.valvesoftware.Steam"})
            .startsUnticked()
            .done());

    // Developer tools' caches, where their own variable may move them (see the XDG folders).
    targets.push_back(Entry("go-build-cache", "Go build cache", std::nullopt)
                          .tool({"GOCACHE", {}, CacheHome, "go-build"})
                          .icons({"text-x-go"})
                          .done());
    // npm and Yarn read their variables in either case.
    targets.push_back(
        Entry("npm", "npm", std::nullopt)
            .tool({"npm_config_cache", {"NPM_CONFIG_CACHE"}, Home, ".npm"}, {"_cacache"})
            .icons({"text-x-javascript"})
            .done());
    targets.push_back(Entry("yarn", "Yarn", std::nullopt)
                          .tool({"YARN_CACHE_FOLDER", {"yarn_cache_folder"}, CacheHome, "yarn"})
                          .icons({"yarn", "text-x-javascript"})
                          .done());
    targets.push_back(Entry("pip", "pip", std::nullopt)
                          .tool({"PIP_CACHE_DIR", {}, CacheHome, "pip"})
                          .icons({"text-x-python"})
                          .done());

    // Build tools, IDEs, models and test browsers. Each names the children of the tool's folder
    // that are caches, never the folder itself where it keeps more: credentials, installed
    // programs, environments, an IDE's local history stay.
    // Bazel's output user roots: each workspace's output base and the repository cache. Links
    // in them (to the sources, to the installation) go as links.
    targets.push_back(Entry("bazel", "Bazel", std::nullopt)
                          .linux(CacheHome, "bazel", {"_bazel_*"})
                          .icons({"bazel", "applications-development"})
                          .done());
    // Beside them: gradle.properties (repository credentials), init scripts, installed JDKs.
    targets.push_back(Entry("gradle", "Gradle", std::nullopt)
                          .tool({"GRADLE_USER_HOME", {}, Home, ".gradle"}, {"caches"})
                          .icons({"gradle", "applications-development"})
                          .done());
    // Beside them: installed programs (bin), credentials, the registry index and git databases.
    targets.push_back(Entry("cargo", "Cargo", std::nullopt)
                          .tool({"CARGO_HOME", {}, Home, ".cargo"}, {"registry/cache"})
                          .icons({"text-rust", "text-x-rust", "applications-development"})
                          .done());
    // The hex level folders and tmp only: a folder CCACHE_DIR names holds ccache.conf.
    targets.push_back(Entry("ccache", "ccache", std::nullopt)
                          .tool({"CCACHE_DIR", {}, CacheHome, "ccache"},
                                {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "a", "b", "c",
                                 "d", "e", "f", "tmp"})
                          .icons({"applications-development"})
                          .done());
    // One folder per product and version; LocalHistory (the user's edit history) and the logs
    // stay beside the caches and indexes.
    targets.push_back(Entry("jetbrains-ides", "JetBrains IDEs", std::nullopt)
                          .linux(CacheHome, "JetBrains", {"*/caches", "*/index"})
                          .icons({"jetbrains-toolbox", "applications-development"})
                          .done());
    // HF_HOME moves all three and the login token beside them; HF_HUB_CACHE moves the hub
    // alone. Models take hundreds of GB to fetch again.
    targets.push_back(
        Entry("hugging-face", "Hugging Face", std::nullopt)
            .tool({"HF_HOME", {}, CacheHome, "huggingface"}, {"hub", "datasets", "xet"})
            .tool({"HF_HUB_CACHE", {"HUGGINGFACE_HUB_CACHE"}})
            .icons({"applications-science"})
            .startsUnticked()
            .done());
    // The browser builds only: the folder also holds the command-line daemon's browser profiles
    // (daemon/), settings and the server registry, which the variable does not move.
    targets.push_back(
        Entry("playwright-browsers", "Playwright browsers", std::nullopt)
            .tool({"PLAYWRIGHT_BROWSERS_PATH", {}, CacheHome, "ms-playwright"},
                  {"chromium-*", "chromium_headless_shell-*", "chromium_tip_of_tree-*",
                   "chromium_tip_of_tree_headless_shell-*", "firefox-*", "firefox_beta-*",
                   "webkit-*", "ffmpeg-*", "android-*", "winldd-*"})
            .icons({"applications-internet"})
            .startsUnticked()
            .done());
    // Puppeteer does not read XDG_CACHE_HOME.
    targets.push_back(Entry("puppeteer-browsers", "Puppeteer browsers", std::nullopt)
                          .tool({"PUPPETEER_CACHE_DIR", {}, Home, ".cache/puppeteer"})
                          .icons({"applications-internet"})
                          .startsUnticked()
                          .done());
    targets.push_back(
        Entry("cypress", "Cypress", std::nullopt)
            .tool({"CYPRESS_CACHE_FOLDER",
                   {"npm_config_CYPRESS_CACHE_FOLDER", "npm_config_cypress_cache_folder"},
                   CacheHome,
                   "Cypress"})
            .icons({"applications-internet"})
            .startsUnticked()
            .done());
    // Go's download cache: the modules' archives and go.mod files. The extracted modules beside
    // it, ~/go/bin and ~/go/src stay.
    targets.push_back(Entry("go-modules", "Go modules", std::nullopt)
                          .tool({"GOMODCACHE", {}, Home, "go/pkg/mod"}, {"cache"})
                          .icons({"text-x-go"})
                          .startsUnticked()
                          .done());
    // The Pythons and tools uv installed are in the data home.
    targets.push_back(Entry("uv", "uv", std::nullopt)
                          .tool({"UV_CACHE_DIR", {}, CacheHome, "uv"})
                          .icons({"text-x-python"})
                          .done());
    // The package index cache of each installer's default folder; the packages (environments
    // link to them), envs/ and .condarc stay.
    targets.push_back(Entry("conda", "conda", std::nullopt)
                          .linux(Home, "miniconda3", {"pkgs/cache"})
                          .linux(Home, "anaconda3", {"pkgs/cache"})
                          .linux(Home, "miniforge3", {"pkgs/cache"})
                          .linux(Home, ".conda", {"pkgs/cache"})
                          .icons({"text-x-python"})
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
