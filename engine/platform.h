#pragma once
// Which system's folders this build looks at.

namespace sweepkin {

#ifdef __APPLE__
inline constexpr bool kLinuxLocations = false;
#else
// The applications' Linux folders, the XDG caches folders in the guard, and Sweepkin's own files
// under the XDG state home.
inline constexpr bool kLinuxLocations = true;
#endif

// Sweepkin's own application id as a Flatpak.
inline constexpr const char* kOwnFlatpakID = "org.sweepkin.Sweepkin";

}  // namespace sweepkin
