#pragma once
// The built-in catalogue: every cleanable application, in its fixed order, in one table.

#include <vector>

#include "engine/catalogue/app_target.h"

namespace sweepkin {

// The eight entries in their fixed order (the first is the iCloud CloudKit cache), each with its
// macOS locations then, on Linux, its Linux ones (native under the XDG folders, then Flatpak,
// then snap); on Linux the applications that have no macOS entry follow them.
std::vector<AppTarget> buildCacheTargets();

// The process rule of every entry that has a bundle identifier, by that identifier.
ProcessRules processRulesOf(const std::vector<AppTarget>& targets);

}  // namespace sweepkin
