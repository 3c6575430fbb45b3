#pragma once
// The textual guard every removed path passes.

#include <string_view>

namespace sweepkin {

// True when the text of `path` names a cache location that may be removed: the caches folder
// under the home directory, anything inside it, or a path whose last component contains "cache"
// in any letter case. Reads the home directory afresh; never touches the disk.
bool isSafeCachePath(std::string_view path);

}  // namespace sweepkin
