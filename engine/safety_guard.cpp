#include "engine/safety_guard.h"

#include <string>

#include "engine/home.h"

namespace sweepkin {

namespace {

// A "." or ".." component would let a path that starts inside the caches folder name a place
// outside it ("~/Library/Caches/../../Documents").
bool hasDotComponent(std::string_view path) {
    while (!path.empty()) {
        std::size_t slash = path.find('/');
        std::string_view component = path.substr(0, slash);
        if (component == "." || component == "..") return true;
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
    }
    return false;
}

bool containsCache(std::string_view name) {
    static constexpr std::string_view kWord = "cache";
    if (name.size() < kWord.size()) return false;
    for (std::size_t i = 0; i + kWord.size() <= name.size(); ++i) {
        std::size_t k = 0;
        while (k < kWord.size()) {
            char c = name[i + k];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != kWord[k]) break;
            ++k;
        }
        if (k == kWord.size()) return true;
    }
    return false;
}

std::string_view lastComponent(std::string_view path) {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool isSafeCachePath(std::string_view path) {
    const std::string cachesRoot = expandTilde("~/Library/Caches");
    if (path == cachesRoot) return true;
    if (path.size() > cachesRoot.size() && path.starts_with(cachesRoot) &&
        path[cachesRoot.size()] == '/' && !hasDotComponent(path.substr(cachesRoot.size()))) {
        return true;
    }
    return containsCache(lastComponent(path));
}

}  // namespace sweepkin
