#pragma once
// Byte counts: measuring what the resolver reaches, free space, and the one text form of a size.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/fs/resolver.h"

namespace sweepkin {

// What removing the item would free: a folder's files (see directorySize), a file's size as far
// as the disk holds it, nothing for a link, a mount point, another user's entry or nothing. A
// file with several names counts when the item holds them all.
std::int64_t itemSize(const Item& item);

// The size of the regular files below the item when it is a folder: links are never followed,
// nothing mounted and no folder others may change is counted, unreadable parts count nothing.
std::int64_t directorySize(const Item& item);

// The itemSize of every item, one reached by two of them, or lying inside another of them,
// counted once: what removing them all frees. A file with several names counts once when all of
// them lie in the items (one row's), and nothing when one lies elsewhere: removing the items
// then frees nothing of it. Sums stop at the largest count.
std::int64_t pathsSize(const std::vector<Item>& items);

// The volume of the home folder: the bytes the user can still use and its size; 0 each when the
// query fails.
struct DiskSpace {
    std::int64_t free = 0;
    std::int64_t total = 0;
};
DiskSpace homeDiskSpace();

// "1.23 GB", "740 MB", "2 KB", "999 B" (decimal units).
std::string formatBytes(std::int64_t bytes);

}  // namespace sweepkin
