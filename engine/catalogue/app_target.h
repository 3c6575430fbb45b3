#pragma once
// One cleanable application: its name, its identifier, where its caches are and how its
// processes are recognised.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/catalogue/process_rule.h"

namespace sweepkin {

// The folders a location starts from. Which links are followed on the way to each and below it
// is a property of the kind (see the resolver's table).
enum class RootKind : std::uint8_t {
    Home,               // ~
    CacheHome,          // $XDG_CACHE_HOME, ~/.cache
    ConfigHome,         // $XDG_CONFIG_HOME, ~/.config
    DataHome,           // $XDG_DATA_HOME, ~/.local/share
    FlatpakCache,       // ~/.var/app/<app>/cache
    FlatpakConfig,      // ~/.var/app/<app>/config
    FlatpakData,        // ~/.var/app/<app>/data
    FlatpakHome,        // ~/.var/app/<app>, where an application keeps its own home (Steam)
    SnapCommon,         // ~/snap/<app>/common
    SnapCurrent,        // ~/snap/<app>/current, the revision in use
    LibraryCaches,      // ~/Library/Caches
    LibraryAppSupport,  // ~/Library/Application Support
    LibraryContainers,  // ~/Library/Containers
    ToolFolder,  // the folder a tool's own variable names (app: the variable), or its default
};

// A root, the application's own folder below it, and the items below that folder. A component
// that contains "*" is any entry at that level whose name it matches; an empty item is the
// folder itself.
struct Location {
    RootKind root;
    std::string app;                 // the Flatpak app id or snap name of those kinds
    std::string folder;              // "google-chrome", "Google/Chrome", "mozilla/firefox"
    std::vector<std::string> items;  // "Cache", "*/Code Cache", ""

    bool operator==(const Location&) const = default;
};

// A developer tool's own variable, which moves the folder of its row's ToolFolder location (whose
// `app` is the variable's name), the other names the tool reads when that one is unset, and where
// the folder is when none of them is set.
struct ToolVariable {
    std::string name;                    // "GOCACHE"
    std::vector<std::string> aliases{};  // "NPM_CONFIG_CACHE", in the order the tool reads them
    RootKind defaultRoot = RootKind::CacheHome;  // the cache home or the home
    std::string defaultFolder{};  // below it ("go-build"); empty: none unless the variable is set
};

struct AppTarget {
    // Stable and unique: lowercase words joined by hyphens ("google-chrome"). Panel rows and the
    // settings use it, so a display name can change without losing anyone's ticks.
    std::string id;
    std::string name;                     // display name, unique
    std::optional<std::string> bundleID;  // absent for an entry with no application to close
    std::vector<Location> locations;
    ProcessRule process{};  // how its running instances are found (Linux)
    // Icon-theme names of its desktop entries (the package's, then the Flatpak's), best first.
    std::vector<std::string> icons{};
    // Its row comes unticked the first time it is seen: rebuilding this cache is expensive.
    bool startsUnticked = false;
    std::vector<ToolVariable> tools{};  // the variables of its ToolFolder locations
};

}  // namespace sweepkin
