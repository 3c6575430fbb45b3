#pragma once
// Guarded, race-safe removal of cache paths.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sweepkin {

struct DeleteResult {
    std::int64_t freed = 0;  // sizes of the paths removed completely
    bool anyFailed = false;  // at least one attempted removal failed
};

// Removes every path that passes isSafeCachePath and exists, each as a whole.
DeleteResult deleteCachePaths(const std::vector<std::string>& paths);

// Seams for tests that change the tree while a removal runs.
struct DeletionHooks {
    // Called just before a folder (the cache path itself included) is opened to be emptied,
    // with the open parent folder and the folder's name. Files go in a first pass and folders
    // in a second, so a folder can be announced twice. May be called from either of the
    // removal's two threads, so it must be thread-safe.
    std::function<void(int parentFd, const char* name)> beforeDescend;
};

DeleteResult deleteCachePaths(const std::vector<std::string>& paths, const DeletionHooks& hooks);

}  // namespace sweepkin
