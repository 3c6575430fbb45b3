#pragma once
// Where a Linux desktop keeps caches, configuration, state and data: the XDG base directories.
// Each variable is read from the environment once and validated, so that no value can make the
// guard admit the home folder, anything above it, or another XDG folder's contents.

#include <optional>
#include <string>
#include <string_view>

namespace sweepkin {

#ifdef __APPLE__
inline constexpr bool kLinuxLocations = false;
#else
// The applications' Linux folders, the XDG caches folders in the guard, and Sweepkin's own files
// under the XDG state home.
inline constexpr bool kLinuxLocations = true;
#endif

// The variables as the environment held them at start-up (absent when unset).
struct BaseDirVariables {
    std::optional<std::string> cacheHome = {};   // XDG_CACHE_HOME
    std::optional<std::string> configHome = {};  // XDG_CONFIG_HOME
    std::optional<std::string> stateHome = {};   // XDG_STATE_HOME
    std::optional<std::string> dataHome = {};    // XDG_DATA_HOME
};

struct BaseDirs {
    // Default ~/.cache; empty when even the default overlaps another folder below, in which case
    // nothing under it is cleaned or admitted by the guard.
    std::string cacheHome;
    std::string configHome;  // default ~/.config
    std::string stateHome;   // default ~/.local/state
    std::string dataHome;    // default ~/.local/share
};

// `value` with repeated and trailing slashes dropped when its text is usable, else home +
// fallback. Unusable: absent, empty, relative, "/", the home folder, an ancestor of it, or a
// value with a "." or ".." component.
std::string validatedBaseDir(const std::optional<std::string>& value, std::string_view home,
                             std::string_view fallback);

// Every folder by its text rules, then by what the folders are on disk (device and inode of the
// folder and its ancestors, so that a link cannot disguise a value): a value that is or contains
// the home folder, lies in a Flatpak or snap application's folder, or exists but belongs to
// another user, gives way to its default; the cache home must moreover not be, lie inside or
// contain any of the other three.
BaseDirs resolveBaseDirs(std::string_view home, const BaseDirVariables& variables);

// The variables read on the first call; the same values ever after.
const BaseDirVariables& startupBaseDirVariables();

// The start-up variables resolved against the current home directory, or against `home`;
// resolved once per home folder and remembered.
BaseDirs currentBaseDirs();
BaseDirs currentBaseDirs(std::string_view home);

}  // namespace sweepkin
