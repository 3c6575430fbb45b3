#pragma once
// Guarded, race-safe removal of the items the resolver reached.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/fs/resolver.h"
#include "engine/fs/tree_walk.h"

namespace sweepkin {

struct DeleteResult {
    std::int64_t freed = 0;  // the bytes that went, also from items removed only in part
    bool anyFailed = false;  // at least one attempted removal failed
    std::vector<Stayed> stayed;
};

// Seams for tests that change the tree while a removal runs.
struct DeletionHooks {
    // Called just before a folder (the item itself included) is opened to be emptied, with the
    // open parent folder and the folder's name. Files go in a first pass and folders in a
    // second, so a folder can be announced twice. May be called from either of the removal's two
    // threads, so it must be thread-safe.
    std::function<void(int parentFd, const char* name)> beforeDescend;
};

// Removes every item whose text passes the guard (checked again: the resolver admitted it), each
// as a whole; what its kind says is
// not to be removed (a mount point, another user's) stays, and counts as neither removed nor
// failed.
// A file with several names counts as freed once its last name went, and never while a name
// lies outside the items: the same rule as pathsSize, so that what a row measured is what its
// clean frees.
DeleteResult deleteCachePaths(const std::vector<Item>& items, const DeletionHooks& hooks = {});

// What the locations name now, removed as deleteCachePaths does; a folder on the way that is
// there but cannot be entered, and an item the resolver refused ("not a cache"), stay and count
// as failures too.
DeleteResult deleteLocations(Resolver& resolver, const std::vector<Location>& locations,
                             const DeletionHooks& hooks = {});

// "permission denied", "in use", ...: the cause in the words the reports use.
std::string failureText(Failure failure);

}  // namespace sweepkin
