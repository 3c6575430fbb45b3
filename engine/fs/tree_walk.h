#pragma once
// Descriptor-based walks below one open folder, shared by measuring and deletion.
//
// A walk never follows a symbolic link, never enters another mounted file system (nor counts or
// removes an entry mounted there), never enters a folder that other users may change, leaves
// another user's entries of every kind alone (whoseEntry; root's are the user's to try), keeps
// only a handful of descriptors open however deep the tree is (ancestors are re-opened through ".."
// and checked against the device and inode remembered on the way down), consumes entries as it
// reads them and, where the tree is large enough to be worth it, shares the work with one helper
// thread through a small bounded queue (walk_handoff.h).

#include <sys/stat.h>

#include <cstdint>
#include <functional>

#include "engine/fs/link_tally.h"
#include "engine/fs/walk_counts.h"

namespace sweepkin {

enum class WalkMode {
    Measure,      // sum the sizes of regular files; touch nothing
    UnlinkFiles,  // remove every entry that is not a folder; folders stay
    RemoveAll,    // remove everything below, folders after their contents (one thread)
};

struct WalkResult {
    std::int64_t bytes = 0;  // regular-file sizes counted (measured, or removed)
    bool failed = false;     // something could not be removed or checked (removal modes only)
    Failure failure = Failure::None;
};

// Called before a subfolder is opened, with its open parent and its name (test seam). May be
// called from either of the walk's threads.
using DescendHook = std::function<void(int parentFd, const char* name)>;

// Walks everything below the open folder `dirFd` (which is not itself removed). `maxThreads` is
// 1 or 2. The descriptor stays owned by the caller. Files with several names count as `links`
// says, which the walks of one row share; without it, as this walk alone meets them.
//
// A removal gives the owner back the rights emptying needs (list, search, write) on `dirFd` and
// on every folder below that is the user's own: tools make their caches read-only on purpose.
// Measuring changes nothing, and passes over what its owner may not list.
WalkResult walkTree(int dirFd, WalkMode mode, int maxThreads, const DescendHook* hook = nullptr,
                    LinkTally* links = nullptr);

}  // namespace sweepkin
