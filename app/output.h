#pragma once
// Line output of the command-line modes: UTF-8 text, every line ended by a single line feed.

#include <cstdio>
#include <string_view>

namespace sweepkin {

// Write errors (a closed pipe, a full disk) are ignored: the modes carry on regardless, and what
// was printed is only a report of what they did.
inline void printLine(std::FILE* out, std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), out);
    std::fputc('\n', out);
}

}  // namespace sweepkin
