#include "engine/path_opener.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "engine/base_dirs.h"
#include "engine/home.h"

namespace sweepkin {

namespace {

constexpr int kWayFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

enum class RootKind {
    Xdg,        // the first folder below is an application's top folder, followed
    Snap,       // the second folder below may be the "current" link
    Plain,      // no link below is followed
    FollowAll,  // macOS: the path's text is opened as it stands
};

struct Root {
    std::string text;
    RootKind kind;
    std::size_t count = 0;  // its components
};

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> out;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view component = path.substr(0, slash);
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
        if (!component.empty()) out.push_back(component);
    }
    return out;
}

std::string joined(const std::vector<std::string_view>& parts, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out.append("/").append(parts[i]);
    return out.empty() ? "/" : out;
}

// The trusted root with the most components that the first `count` components of `parts` begin
// with; "/" when there is no other.
Root rootOf(const std::vector<std::string_view>& parts, std::size_t count,
            const TrustedRoots& roots) {
    const std::string base = homePrefix(roots.home);
    std::vector<Root> candidates;
    if constexpr (kLinuxLocations) {
        if (!roots.cacheHome.empty()) candidates.push_back({roots.cacheHome, RootKind::Xdg});
        if (!roots.configHome.empty()) candidates.push_back({roots.configHome, RootKind::Xdg});
        candidates.push_back({base + "/.var/app", RootKind::Plain});
        candidates.push_back({base + "/snap", RootKind::Snap});
        candidates.push_back({base.empty() ? "/" : base, RootKind::Plain});
    } else {
        candidates.push_back({base + "/Library/Caches", RootKind::Plain});
    }

    Root best{"/", kLinuxLocations ? RootKind::Plain : RootKind::FollowAll, 0};
    for (Root& candidate : candidates) {
        const std::vector<std::string_view> own = components(candidate.text);
        if (own.size() > count || own.size() < best.count) continue;
        bool prefix = true;
        for (std::size_t i = 0; prefix && i < own.size(); ++i) prefix = own[i] == parts[i];
        if (!prefix) continue;
        candidate.count = own.size();
        best = std::move(candidate);
    }
    if (best.kind == RootKind::FollowAll) best = {joined(parts, count), RootKind::FollowAll, count};
    return best;
}

Reach unreachable(int error) {
    // Missing, not a folder, or a link where none is followed (O_NOFOLLOW's ELOOP or ENOTDIR).
    if (error == ENOENT || error == ENOTDIR || error == ELOOP) return Reach::Absent;
    return Reach::Failed;
}

// A snap's "current" link, when it names a revision folder beside it: that name.
std::optional<std::string> snapRevision(int snapFd, Reach& reach) {
    char target[256];
    const ssize_t n = ::readlinkat(snapFd, "current", target, sizeof target);
    if (n < 0) {
        if (errno == EINVAL) return "current";  // a plain folder
        reach = unreachable(errno);
        return std::nullopt;
    }
    const std::string name(target, static_cast<std::size_t>(n));
    if (static_cast<std::size_t>(n) == sizeof target || name.empty() || name == "." ||
        name == ".." || name.find('/') != std::string::npos) {
        reach = Reach::Absent;
        return std::nullopt;
    }
    return name;
}

// Opens the first `count` components of `parts` from their trusted root down.
Opened walkDown(const std::vector<std::string_view>& parts, std::size_t count,
                const TrustedRoots& roots) {
    const Root root = rootOf(parts, count, roots);
    Opened out;
    out.fd.reset(::open(root.text.c_str(), kWayFlags));
    if (!out.fd) {
        out.reach = unreachable(errno);
        return out;
    }
    for (std::size_t i = root.count; i < count; ++i) {
        const std::size_t depth = i - root.count;  // 0: right below the root
        std::string name(parts[i]);
        if (name == "." || name == "..") return Opened{Reach::Absent, {}};
        if (root.kind == RootKind::Snap && depth == 1 && name == "current") {
            Reach reach = Reach::Absent;
            const std::optional<std::string> revision = snapRevision(out.fd.get(), reach);
            if (!revision) return Opened{reach, {}};
            name = *revision;
        }
        const bool follow = root.kind == RootKind::Xdg && depth == 0;
        UniqueFd next(::openat(out.fd.get(), name.c_str(), kWayFlags | (follow ? 0 : O_NOFOLLOW)));
        if (!next) return Opened{unreachable(errno), {}};
        out.fd = std::move(next);
    }
    out.reach = Reach::Reached;
    return out;
}

}  // namespace

TrustedRoots currentTrustedRoots() {
    TrustedRoots roots;
    roots.home = homeDirectory();
    if constexpr (kLinuxLocations) {
        const BaseDirs dirs = currentBaseDirs(roots.home);
        roots.cacheHome = dirs.cacheHome;
        roots.configHome = dirs.configHome;
    }
    return roots;
}

OpenedParent openParent(std::string_view path, const TrustedRoots& roots) {
    const std::vector<std::string_view> parts = components(path);
    OpenedParent out;
    if (parts.empty() || path.front() != '/') return out;
    out.leaf = std::string(parts.back());
    if (out.leaf == "." || out.leaf == "..") return out;
    static_cast<Opened&>(out) = walkDown(parts, parts.size() - 1, roots);
    return out;
}

bool existsByRules(std::string_view path, const TrustedRoots& roots) {
    const OpenedParent parent = openParent(path, roots);
    struct stat st;
    return parent.reach == Reach::Reached &&
           ::fstatat(parent.fd.get(), parent.leaf.c_str(), &st, 0) == 0;
}

Opened openFolderOnTheWay(std::string_view path, const TrustedRoots& roots) {
    if (path.empty() || path.front() != '/') return {};
    const std::vector<std::string_view> parts = components(path);
    return walkDown(parts, parts.size(), roots);
}

std::size_t rootComponents(std::string_view path, const TrustedRoots& roots) {
    const std::vector<std::string_view> parts = components(path);
    const Root root = rootOf(parts, parts.size(), roots);
    return root.kind == RootKind::FollowAll ? 0 : root.count;
}

}  // namespace sweepkin
