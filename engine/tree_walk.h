#pragma once
// Descriptor-based walks below one open folder, shared by measuring and deletion.
//
// A walk never follows a symbolic link, never enters another mounted file system, keeps only a
// handful of descriptors open however deep the tree is (ancestors are re-opened through ".."
// and checked against the device and inode remembered on the way down), consumes entries as it
// reads them and, where the tree is large enough to be worth it, shares the work with one helper
// thread through a small bounded queue.

#include <cstdint>
#include <functional>

namespace sweepkin {

enum class WalkMode {
    Measure,      // sum the sizes of regular files; touch nothing
    UnlinkFiles,  // remove every entry that is not a folder; folders stay
    RemoveAll,    // remove everything below, folders after their contents (one thread)
};

struct WalkResult {
    std::int64_t bytes = 0;  // regular-file sizes counted (measured, or removed)
    bool failed = false;     // something could not be removed or checked (removal modes only)
};

// Called before a subfolder is opened, with its open parent and its name (test seam). May be
// called from either of the walk's threads.
using DescendHook = std::function<void(int parentFd, const char* name)>;

// Walks everything below the open folder `dirFd` (which is not itself removed). `maxThreads` is
// 1 or 2. The descriptor stays owned by the caller.
WalkResult walkTree(int dirFd, WalkMode mode, int maxThreads, const DescendHook* hook = nullptr);

}  // namespace sweepkin
