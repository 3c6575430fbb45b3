#pragma once
// Byte counts: measuring, free space and the one text form of a size.

#include <cstdint>
#include <string>
#include <vector>

namespace sweepkin {

// Sum of the logical sizes of the regular files below `folder`; links are never followed,
// unreadable parts count nothing, a missing folder is 0.
std::int64_t directorySize(const std::string& folder);

// A folder's directorySize, a file's size, 0 for a missing path, a symbolic link or a folder
// where another file system is mounted. Reached as the deletion reaches it.
std::int64_t itemSize(const std::string& path);

// The itemSize of every path, an item reached by two of them, or lying inside another of them,
// counted once: what removing them all frees.
std::int64_t pathsSize(const std::vector<std::string>& paths);

// Bytes the user can still use on the volume of the home folder; 0 when the query fails.
std::int64_t freeDiskSpace();

// "1.23 GB", "740 MB", "2 KB", "999 B" (decimal units).
std::string formatBytes(std::int64_t bytes);

}  // namespace sweepkin
