#pragma once
// One cleanable application and the built-in catalogue of them.

#include <optional>
#include <string>
#include <vector>

#include "engine/base_dirs.h"

namespace sweepkin {

struct AppTarget {
    std::string name;                     // display name; unique, also the id of its panel row
    std::optional<std::string> bundleID;  // absent for an entry with no application to close
    std::vector<std::string> paths;       // tilde-expanded patterns; a "*" component is any entry
};

// The eight catalogue entries in their fixed order, every pattern tilde-expanded against the
// current home directory, and on Linux "Mozilla Firefox" and "Chromium" after them. The first
// entry's only path is `cloudKitCachePath`. Each entry lists its macOS folders, then (on Linux)
// the same kinds of folders where the Linux builds keep them: under `dirs`' cache and config
// homes (nothing under a cache home left out), then in the Flatpak and snap folders.
std::vector<AppTarget> buildCacheTargets(const std::string& cloudKitCachePath,
                                         const BaseDirs& dirs);
// The same with the XDG folders of the current home and the start-up environment.
std::vector<AppTarget> buildCacheTargets(const std::string& cloudKitCachePath);

}  // namespace sweepkin
