#pragma once
// Where a Linux desktop keeps caches, configuration and state: the XDG base directories. Each
// variable is read from the environment once and validated, so that no value can make the guard
// admit the home folder or anything above it.

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

// The three variables as the environment held them at start-up (absent when unset).
struct BaseDirVariables {
    std::optional<std::string> cacheHome;   // XDG_CACHE_HOME
    std::optional<std::string> configHome;  // XDG_CONFIG_HOME
    std::optional<std::string> stateHome;   // XDG_STATE_HOME
};

struct BaseDirs {
    std::string cacheHome;   // default ~/.cache
    std::string configHome;  // default ~/.config
    std::string stateHome;   // default ~/.local/state
};

// `value` with repeated and trailing slashes dropped when it is usable, else home + fallback.
// Unusable: absent, empty, relative, "/", the home folder, an ancestor of it, or a value with a
// "." or ".." component.
std::string validatedBaseDir(const std::optional<std::string>& value, std::string_view home,
                             std::string_view fallback);

BaseDirs resolveBaseDirs(std::string_view home, const BaseDirVariables& variables);

// The variables read on the first call; the same values ever after.
const BaseDirVariables& startupBaseDirVariables();

// The start-up variables resolved against the current home directory, or against `home`.
BaseDirs currentBaseDirs();
BaseDirs currentBaseDirs(std::string_view home);

}  // namespace sweepkin
