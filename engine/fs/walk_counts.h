#pragma once
// The causes a removal reports and the byte arithmetic of measuring, shared by the walk, its link
// tally and the resolver's callers.

#include <sys/stat.h>

#include <cstdint>

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

// a + b for byte counts, stopping at the largest count instead of overflowing.
std::int64_t addBytes(std::int64_t a, std::int64_t b);

}  // namespace sweepkin
