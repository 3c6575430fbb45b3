#include "engine/base_dirs.h"

#include <cstdlib>

#include "engine/home.h"

namespace sweepkin {

namespace {

// Absolute text with single slashes and no trailing slash ("/" stays "/").
std::string normalized(std::string_view path) {
    std::string out;
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out.push_back(c);
    }
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

}  // namespace

std::string validatedBaseDir(const std::optional<std::string>& value, std::string_view home,
                             std::string_view fallback) {
    const std::string homeText = normalized(home);
    const std::string defaultDir = homePrefix(homeText) + "/" + std::string(fallback);
    if (!value || value->empty() || value->front() != '/') return defaultDir;
    const std::string dir = normalized(*value);
    if (dir == "/" || hasDotComponent(dir)) return defaultDir;
    // The home folder itself or anything above it would put all of the user's files inside.
    if (dir == homeText || (homeText.size() > dir.size() && homeText.starts_with(dir) &&
                            homeText[dir.size()] == '/')) {
        return defaultDir;
    }
    return dir;
}

BaseDirs resolveBaseDirs(std::string_view home, const BaseDirVariables& variables) {
    return BaseDirs{validatedBaseDir(variables.cacheHome, home, ".cache"),
                    validatedBaseDir(variables.configHome, home, ".config"),
                    validatedBaseDir(variables.stateHome, home, ".local/state")};
}

const BaseDirVariables& startupBaseDirVariables() {
    static const BaseDirVariables variables{variable("XDG_CACHE_HOME"), variable("XDG_CONFIG_HOME"),
                                            variable("XDG_STATE_HOME")};
    return variables;
}

BaseDirs currentBaseDirs() {
    return currentBaseDirs(homeDirectory());
}

BaseDirs currentBaseDirs(std::string_view home) {
    return resolveBaseDirs(home, startupBaseDirVariables());
}

}  // namespace sweepkin
