#include "engine/pattern.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <unordered_set>

#include "engine/path_opener.h"

namespace sweepkin {

namespace {

std::string join(const std::string& base, std::string_view name) {
    std::string out = base;
    if (!out.ends_with('/')) out.push_back('/');
    out.append(name);
    return out;
}

// Appends base + "/" + name for every entry of `base` that the component matches, in the order
// the file system lists them. An unreadable, missing or unreachable folder adds nothing.
void appendMatches(const std::string& base, std::string_view component, const TrustedRoots& roots,
                   std::vector<std::string>& out) {
    const Opened folder = openFolderOnTheWay(base, roots);
    if (folder.reach != Reach::Reached) return;
    const int fd = ::openat(folder.fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
        ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (wildcardMatch(component, name)) out.push_back(join(base, name));
    }
    ::closedir(dir);
}

}  // namespace

bool wildcardMatch(std::string_view component, std::string_view name) {
    if (component == "*") return true;
    std::size_t star = component.find('*');
    if (star == std::string_view::npos) return component == name;

    std::string_view first = component.substr(0, star);
    if (!name.starts_with(first)) return false;
    std::size_t pos = first.size();

    std::size_t lastStar = component.rfind('*');
    std::string_view last = component.substr(lastStar + 1);
    std::string_view middle = component.substr(star + 1, lastStar - star);  // "b*c*" or ""
    while (!middle.empty()) {
        std::size_t next = middle.find('*');
        std::string_view part = middle.substr(0, next);
        middle.remove_prefix(next == std::string_view::npos ? middle.size() : next + 1);
        if (part.empty()) continue;
        std::size_t found = name.find(part, pos);
        if (found == std::string_view::npos) return false;
        pos = found + part.size();
    }
    // The tail may not reuse characters that the head or a middle part already matched, so
    // "ab*ba" does not match "aba".
    return name.size() - pos >= last.size() && name.ends_with(last);
}

std::vector<std::string> expandPattern(const std::string& pattern) {
    const TrustedRoots roots = currentTrustedRoots();
    // The home folder's and the XDG folders' own text is literal, whatever characters it holds.
    std::string_view rest = pattern;
    std::vector<std::string> candidates{"/"};
    for (std::size_t literal = rootComponents(pattern, roots); literal > 0; --literal) {
        rest.remove_prefix(rest.find_first_not_of('/'));
        const std::size_t slash = rest.find('/');
        candidates[0] = join(candidates[0], rest.substr(0, slash));
        rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash);
    }
    if (rest.find('*') == std::string_view::npos) {
        if (existsByRules(pattern, roots)) return {pattern};
        return {};
    }

    while (!rest.empty()) {
        std::size_t slash = rest.find('/');
        std::string_view component = rest.substr(0, slash);
        rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
        if (component.empty()) continue;

        std::vector<std::string> next;
        if (component.find('*') != std::string_view::npos) {
            for (const std::string& base : candidates) appendMatches(base, component, roots, next);
        } else {
            for (const std::string& base : candidates) {
                std::string path = join(base, component);
                if (existsByRules(path, roots)) next.push_back(std::move(path));
            }
        }
        if (next.empty()) return {};
        candidates = std::move(next);
    }
    return candidates;
}

std::vector<std::string> expandPatterns(const std::vector<std::string>& patterns) {
    std::unordered_set<std::string> seen;
    std::vector<std::string> result;
    for (const std::string& pattern : patterns) {
        for (std::string& path : expandPattern(pattern)) {
            if (seen.insert(path).second) result.push_back(std::move(path));
        }
    }
    return result;
}

}  // namespace sweepkin
