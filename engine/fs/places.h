#pragma once
// Where the roots are now: the home, the validated XDG folders and the tools' folders.

#include <string_view>

#include "engine/fs/resolver.h"

namespace sweepkin {

// The home directory and the start-up XDG and tool variables resolved against it, with every
// tool's folder that is, holds or lies in another entry's folders left out. A scan, self-test or
// clean makes its Resolver from these.
Places currentPlaces();

// ~/.var/app is a mount holding nothing but Sweepkin's own folder: a Flatpak sandbox, which
// hides the other applications' folders.
bool flatpakFoldersHidden(std::string_view home);

}  // namespace sweepkin
