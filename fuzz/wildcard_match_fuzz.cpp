// wildcardMatch against fnmatch(3). Input: component, "/", entry name (an input
// without "/" is a component alone, matched against itself with and without its stars).

#include <fnmatch.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/catalogue/pattern.h"
#include "fuzz/fuzz_check.h"

namespace {

// fnmatch(3) without flags agrees with the star-only rule only where it sees no other special
// character and no NUL; its backtracking is exponential in the number of stars, so keep it small.
bool fnmatchComparable(std::string_view pattern, std::string_view name) {
    if (pattern.find_first_of(std::string_view("?[\\\0", 4)) != std::string_view::npos)
        return false;
    if (name.find('\0') != std::string_view::npos) return false;
    std::size_t stars = 0;
    for (char c : pattern) stars += c == '*';
    return stars <= 6 && pattern.size() <= 64 && name.size() <= 256;
}

std::string withoutStars(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c != '*') out += c;
    }
    return out;
}

void report(const char* what, std::string_view pattern, std::string_view name, bool got) {
    sweepkin::fuzz::printEscaped("component", pattern);
    sweepkin::fuzz::printEscaped("name", name);
    std::fprintf(stderr, "  wildcardMatch gave %s\n", got ? "true" : "false");
    sweepkin::fuzz::fail(what);
}

void checkPair(std::string_view pattern, std::string_view name) {
    const bool got = sweepkin::wildcardMatch(pattern, name);
    if (fnmatchComparable(pattern, name)) {
        const std::string p(pattern), n(name);
        const bool expected = fnmatch(p.c_str(), n.c_str(), 0) == 0;
        if (got != expected) report("wildcardMatch disagrees with fnmatch(3)", pattern, name, got);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t slash = input.find('/');
    const std::string_view pattern = input.substr(0, slash);

    if (slash != std::string_view::npos) checkPair(pattern, input.substr(slash + 1));

    // Whatever the component, it matches its own text and its text without stars.
    if (!sweepkin::wildcardMatch(pattern, pattern)) {
        report("a component does not match its own text", pattern, pattern, false);
    }
    const std::string bare = withoutStars(pattern);
    if (!sweepkin::wildcardMatch(pattern, bare)) {
        report("a component does not match its text without stars", pattern, bare, false);
    }
    if (!sweepkin::wildcardMatch("*", input)) report("\"*\" refuses a name", "*", input, false);
    return 0;
}
