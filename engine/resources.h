#pragma once
// Files shipped with the program: beside the executable in the build tree, or in
// <prefix>/share/sweepkin when installed.

#include <optional>
#include <string>

namespace sweepkin {

// The folder that holds the running executable (from /proc/self/exe).
std::string executableDirectory();

// Full path of the shipped file `fileName`, if it exists in one of the two places.
std::optional<std::string> resourcePath(const std::string& fileName);

inline constexpr const char* kLicenseFileName = "BETA LICENSE (EULA).txt";

}  // namespace sweepkin
