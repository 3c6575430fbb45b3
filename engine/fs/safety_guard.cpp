#include "engine/fs/safety_guard.h"

#include <string>
#include <utility>

#include "engine/fs/home.h"
#include "engine/platform.h"

namespace sweepkin {

namespace {

std::string_view lastComponent(std::string_view path) {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// `path` is `root` followed by "/" and, when `strictly`, at least one name below it.
bool isInside(std::string_view path, std::string_view root, bool strictly) {
    if (root.empty() || path.size() <= root.size() || !path.starts_with(root) ||
        path[root.size()] != '/') {
        return false;
    }
    const std::string_view below = path.substr(root.size());
    if (hasDotComponent(below)) return false;
    return !strictly || below.find_first_not_of('/') != std::string_view::npos;
}

// `path` lies inside ~/Library/Caches (or is that folder followed by "/"), or strictly inside
// one of the Linux caches folders.
bool insideCachesFolder(std::string_view path, std::string_view home, std::string_view cacheHome) {
    const std::string base = homePrefix(home);
    if (isInside(path, base + "/Library/Caches", false)) return true;
    if (!kLinuxLocations) return false;
    if (isInside(path, cacheHome, true)) return true;

    // Flatpak and snap give each application a caches folder of its own: one name between the
    // fixed parts.
    static constexpr std::pair<std::string_view, std::string_view> kSandboxes[] = {
        {"/.var/app/", "/cache"},
        {"/snap/", "/common/.cache"},
    };
    for (const auto& [head, tail] : kSandboxes) {
        const std::string prefix = base + std::string(head);
        if (!path.starts_with(prefix)) continue;
        const std::size_t nameEnd = path.find('/', prefix.size());
        if (nameEnd == std::string_view::npos) continue;
        const std::string_view name = path.substr(prefix.size(), nameEnd - prefix.size());
        if (name.empty() || name == "." || name == "..") continue;
        if (isInside(path, std::string(path.substr(0, nameEnd)) + std::string(tail), true)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool nameSaysCache(std::string_view name) {
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

bool isSafeCachePath(std::string_view path, std::string_view home, std::string_view cacheHome) {
    if (path == homePrefix(home) + "/Library/Caches") return true;
    if (insideCachesFolder(path, home, cacheHome)) return true;
    return nameSaysCache(lastComponent(path));
}

}  // namespace sweepkin
