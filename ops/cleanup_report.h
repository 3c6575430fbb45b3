#pragma once
// The Markdown report of the last clean, replaced as a whole by every run.

#include <cstdint>
#include <string>
#include <vector>

namespace sweepkin {

// Writes the report atomically and durably (temporary file in the same folder, fsync, rename,
// fsync of the folder), creating missing folders. Returns false on failure, in which case the
// earlier report is untouched and no temporary file is left. A link or a read-only file at the
// report's name is replaced, never written through; nothing else beside it is touched (a writer
// killed before its rename leaves its temporary file). Callers may ignore the result.
bool writeCleanupReport(const std::string& reportPath, const std::vector<std::string>& lines,
                        std::int64_t cleared, std::int64_t freeBefore, std::int64_t freeAfter);

}  // namespace sweepkin
