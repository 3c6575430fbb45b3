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

namespace sweepkin {

// Why something could not be removed; the first cause met is kept.
enum class Failure : std::uint8_t {
    None,
    PermissionDenied,
    InUse,        // busy, or changed while it was being removed
    ReadOnly,     // on a read-only file system
    Mounted,      // something is mounted inside
    Shared,       // a folder inside that other users may change
    OthersFiles,  // another user's files or folders inside
    NotCache,     // refused by the guard, or behind a link and not named for a cache
    Other,
};

// The cause behind a failed system call's error number.
Failure failureOf(int error);

// What a regular file holds: its logical size, but no more than it occupies on disk, so that a
// sparse file counts what it holds. (Whether removing a name frees it is the LinkTally's to say.)
std::int64_t countedSize(const struct stat& st);

// Two statx results (asked with STATX_MNT_ID) lie on one mount: by mount id where the kernel
// gives both, else by device. The one rule for what counts as mounted, inside a walk and out.
bool sameMount(const struct statx& a, const struct statx& b);

// a + b for byte counts, stopping at the largest count instead of overflowing.
std::int64_t addBytes(std::int64_t a, std::int64_t b);

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
