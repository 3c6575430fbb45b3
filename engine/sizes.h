#pragma once
// Byte counts: measuring, free space and the one text form of a size.

#include <cstdint>
#include <string>

namespace sweepkin {

// Sum of the logical sizes of the regular files below `folder`; links are never followed,
// unreadable parts count nothing, a missing folder is 0.
std::int64_t directorySize(const std::string& folder);

// A folder's directorySize, a file's size, 0 for a missing path or a symbolic link.
std::int64_t itemSize(const std::string& path);

// Bytes the user can still use on the volume of the home folder; 0 when the query fails.
std::int64_t freeDiskSpace();

// "1.23 GB", "740 MB", "2 KB", "999 B" (decimal units).
std::string formatBytes(std::int64_t bytes);

}  // namespace sweepkin
