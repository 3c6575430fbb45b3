#pragma once
// Guarded, race-safe removal of cache paths.

#include <cstdint>
#include <string>
#include <vector>

namespace sweepkin {

struct DeleteResult {
    std::int64_t freed = 0;  // sizes of the paths removed completely
    bool anyFailed = false;  // at least one attempted removal failed
};

// Removes every path that passes isSafeCachePath and exists, each as a whole.
DeleteResult deleteCachePaths(const std::vector<std::string>& paths);

}  // namespace sweepkin
