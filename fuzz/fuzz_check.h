#pragma once
// A failed property prints what was compared and aborts, which the fuzzer records as a crash and
// the corpus replay reports as a failed test.

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace sweepkin::fuzz {

// Prints `text` with every byte outside printable ASCII escaped, so reports stay on one line.
inline void printEscaped(const char* label, std::string_view text) {
    std::fprintf(stderr, "  %s (%zu bytes): \"", label, text.size());
    const std::size_t shown = text.size() > 300 ? 300 : text.size();
    for (std::size_t i = 0; i < shown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            std::fputc(c, stderr);
        } else {
            std::fprintf(stderr, "\\x%02x", c);
        }
    }
    std::fprintf(stderr, "%s\"\n", shown < text.size() ? "…" : "");
}

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace sweepkin::fuzz
