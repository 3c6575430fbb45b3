#pragma once
// Path pattern components: a component containing "*" matches entries of one folder level.

#include <string_view>

namespace sweepkin {

// Does one directory entry name match one pattern component? Only "*" is special: it stands for
// any run of characters, the empty one included, within the name.
bool wildcardMatch(std::string_view component, std::string_view name);

}  // namespace sweepkin
