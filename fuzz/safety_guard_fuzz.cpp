// isSafeCachePath on arbitrary path text. Input: one byte choosing the home folder, then the path.
// A path that starts with "~" gets the home folder in its place, so the fuzzer reaches the caches
// folder without having to guess the home folder's text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/fs/safety_guard.h"
#include "fuzz/fuzz_check.h"

namespace {

constexpr std::string_view homes[] = {"/home/fuzz", "/home/Cache Person", "/", "/var/lib/x"};

std::string cachesRootFor(std::string_view home) {
    std::string root(home);
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    if (root == "/") root.clear();
    return root + "/Library/Caches";
}

std::vector<std::string_view> componentsOf(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// The text after the last "/", trailing slashes ignored.
std::string_view lastComponent(std::string_view path) {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool containsCache(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower.find("cache") != std::string::npos;
}

// Where the path points once "." and ".." are applied to its text (still without the disk).
std::string lexicallyNormal(std::string_view path) {
    std::vector<std::string_view> kept;
    for (std::string_view part : componentsOf(path)) {
        if (part == ".") continue;
        if (part == "..") {
            if (!kept.empty()) kept.pop_back();
            continue;
        }
        kept.push_back(part);
    }
    std::string out;
    for (std::string_view part : kept) {
        out += '/';
        out += part;
    }
    return out.empty() ? "/" : out;
}

bool hasDotComponent(std::string_view path) {
    for (std::string_view part : componentsOf(path)) {
        if (part == "." || part == "..") return true;
    }
    return false;
}

bool textuallyInside(std::string_view path, const std::string& root) {
    return path == root ||
           (path.size() > root.size() && path.starts_with(root) && path[root.size()] == '/');
}

void report(const char* what, std::string_view home, std::string_view path, bool verdict) {
    sweepkin::fuzz::printEscaped("home", home);
    sweepkin::fuzz::printEscaped("path", path);
    std::fprintf(stderr, "  isSafeCachePath gave %s\n", verdict ? "allowed" : "refused");
    sweepkin::fuzz::fail(what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view home = homes[data[0] % std::size(homes)];
    std::string path(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (path.starts_with('~')) path = std::string(home == "/" ? "" : home) + path.substr(1);
    setenv("HOME", std::string(home).c_str(), 1);

    const std::string root = cachesRootFor(home);
    const bool verdict = sweepkin::isSafeCachePath(path);

    for (const char* tail : {"/", "//"}) {
        if (sweepkin::isSafeCachePath(path + tail) != verdict) {
            report("a trailing slash changed the verdict", home, path, verdict);
        }
    }

    const bool leafIsCache = containsCache(lastComponent(path));
    // Allowed paths must really lie in the caches folder, or be named like a cache.
    if (verdict && !leafIsCache && !textuallyInside(lexicallyNormal(path), root)) {
        report("allowed a path outside the caches folder whose name lacks \"cache\"", home, path,
               verdict);
    }
    // Without dot components the rules are exact: inside the caches folder or a cache-named leaf.
    if (!hasDotComponent(path) && verdict != (textuallyInside(path, root) || leafIsCache)) {
        report("verdict differs from the caches-folder and cache-name rules", home, path, verdict);
    }
    return 0;
}
