#include "engine/fs/home.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace sweepkin {

std::string homeDirectory() {
    // Only an absolute value names a folder; the text checks need one spelling of it.
    if (const char* env = std::getenv("HOME"); env != nullptr && *env == '/') {
        return normalizedPath(env);
    }
    const std::string account = accountHome();
    return account.empty() ? "/" : account;
}

std::string accountHome() {
    passwd entry;
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr || *found->pw_dir != '/') {
        return {};
    }
    return normalizedPath(found->pw_dir);
}

std::vector<std::string_view> pathComponents(std::string_view path) {
    std::vector<std::string_view> out;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view component = path.substr(0, slash);
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
        if (!component.empty()) out.push_back(component);
    }
    return out;
}

std::string normalizedPath(std::string_view path) {
    std::string out;
    for (const std::string_view component : pathComponents(path)) {
        if (component != ".") out.append("/").append(component);
    }
    return out.empty() ? "/" : out;
}

std::string homePrefix(std::string_view home) {
    while (!home.empty() && home.back() == '/') home.remove_suffix(1);
    return std::string(home);
}

std::string expandTilde(std::string_view path) {
    if (path == "~") return homeDirectory();
    if (path.starts_with("~/")) return homePrefix(homeDirectory()) + std::string(path.substr(1));
    return std::string(path);
}

std::string abbreviateTilde(std::string_view path) {
    std::string home = homeDirectory();
    while (home.size() > 1 && home.ends_with('/')) home.pop_back();
    if (home == "/" || home.empty()) return std::string(path);
    std::string_view trimmed = path;
    while (trimmed.size() > 1 && trimmed.ends_with('/')) trimmed.remove_suffix(1);
    if (trimmed == home) return "~";
    if (path.size() > home.size() && path.starts_with(home) && path[home.size()] == '/') {
        return "~" + std::string(path.substr(home.size()));
    }
    return std::string(path);
}

bool hasDotComponent(std::string_view path) {
    for (const std::string_view component : pathComponents(path)) {
        if (component == "." || component == "..") return true;
    }
    return false;
}

}  // namespace sweepkin
