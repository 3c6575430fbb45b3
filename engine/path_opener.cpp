#include "engine/path_opener.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

    const auto startsWith = [&](const std::vector<std::string_view>& own) {
        if (own.size() > count) return false;
        for (std::size_t i = 0; i < own.size(); ++i) {
            if (own[i] != parts[i]) return false;
        }
        return true;
    };
    // On Linux the macOS folders mean nothing: no link on the way to them is followed, even where
    // an XDG folder was set inside ~/Library.
    const bool library = kLinuxLocations && startsWith(pathComponents(base + "/Library"));

    Root best{"/", kLinuxLocations ? RootKind::Plain : RootKind::FollowAll, 0};
    for (Root& candidate : candidates) {
        const std::vector<std::string_view> own = pathComponents(candidate.text);
        if (own.size() < best.count || !startsWith(own)) continue;
        if (library && candidate.kind == RootKind::Xdg) continue;
        candidate.count = own.size();
        best = std::move(candidate);
    }
    if (best.kind == RootKind::FollowAll) best = {joined(parts, count), RootKind::FollowAll, count};
    return best;
}

Reach unreachable(int error) {
    if (error == ENOENT || error == ENOTDIR) return Reach::Absent;
    if (error == ELOOP) return Reach::Refused;  // O_NOFOLLOW met a link
    return Reach::Failed;
}

// `dirFd` lies strictly inside a sandbox root: what it holds, a sandboxed application can write.
bool inSandbox(int dirFd, const Sandboxes& sandboxes) {
    if (sandboxes.roots.empty()) return false;
    const std::vector<FolderID> chain = folderChain(dirFd);
    return std::any_of(chain.begin() + (chain.empty() ? 0 : 1), chain.end(),
                       [&](const FolderID& id) {
                           return std::find(sandboxes.roots.begin(), sandboxes.roots.end(), id) !=
                                  sandboxes.roots.end();
                       });
}

// Enters `name` in `dirFd`, a folder that only the user or root may change. A link is followed
// only when it belongs to the user or to root and does not lie in a sandbox; its target is walked
// one component at a time by the same rule, so no link or folder that someone else could have
// made or moved there is ever taken. `hops` bounds the links followed.
Opened enterUsers(int dirFd, const std::string& name, const Sandboxes& sandboxes, int& hops) {
    struct stat st;
    // Another user who may rename entries of this folder could put any folder of ours in place
    // of this one at any time; a sticky folder (/tmp) lets each keep their own.
    if (::fstat(dirFd, &st) != 0) return Opened{Reach::Failed, {}};
    const bool othersMayRename =
        (st.st_mode & S_ISVTX) == 0 &&
        ((st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && st.st_gid != ::getegid()));
    if ((st.st_uid != ::geteuid() && st.st_uid != 0) || othersMayRename) {
        return Opened{Reach::Refused, {}};
    }
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return Opened{unreachable(errno), {}};
    }
    if (!S_ISLNK(st.st_mode)) {
        UniqueFd fd(::openat(dirFd, name.c_str(), kWayFlags | O_NOFOLLOW));
        return fd ? Opened{Reach::Reached, std::move(fd)} : Opened{unreachable(errno), {}};
    }
    if (--hops < 0 || (st.st_uid != ::geteuid() && st.st_uid != 0) || inSandbox(dirFd, sandboxes)) {
        return Opened{Reach::Refused, {}};
    }
    char buffer[4096];
    const ssize_t n = ::readlinkat(dirFd, name.c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) == sizeof buffer) return Opened{Reach::Refused, {}};
    const std::string target(buffer, static_cast<std::size_t>(n));
    Opened at{Reach::Reached, UniqueFd(target.front() == '/' ? ::open("/", kWayFlags)
                                                             : ::openat(dirFd, ".", kWayFlags))};
    for (const std::string_view part : pathComponents(target)) {
        if (!at.fd) return Opened{unreachable(errno), {}};
        if (part == ".") continue;
        if (part == "..") {
            at.fd.reset(::openat(at.fd.get(), "..", kWayFlags));
            continue;
        }
        at = enterUsers(at.fd.get(), std::string(part), sandboxes, hops);
        if (at.reach != Reach::Reached) return at;
    }
    return at.fd ? std::move(at) : Opened{unreachable(errno), {}};
}

Opened openUsersFolderFrom(const std::vector<std::string_view>& parts, std::size_t count,
                           const Sandboxes& sandboxes) {
    Opened at{Reach::Reached, UniqueFd(::open("/", kWayFlags))};
    int hops = 40;
    for (std::size_t i = 0; i < count && at.reach == Reach::Reached; ++i) {
        if (parts[i] == "." || parts[i] == "..") return Opened{Reach::Refused, {}};
        at = enterUsers(at.fd.get(), std::string(parts[i]), sandboxes, hops);
    }
    return at;
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
        reach = Reach::Refused;
        return std::nullopt;
    }
    return name;
}

// Opens the first `count` components of `parts` from their trusted root down.
Opened walkDown(const std::vector<std::string_view>& parts, std::size_t count,
                const TrustedRoots& roots) {
    const Root root = rootOf(parts, count, roots);
    Opened out;
    if (root.kind == RootKind::FollowAll) {
        out.fd.reset(::open(root.text.c_str(), kWayFlags));
        out.reach = out.fd ? Reach::Reached : unreachable(errno);
        return out;
    }
    out = openUsersFolderFrom(parts, root.count, roots.sandboxes);
    for (std::size_t i = root.count; i < count && out.reach == Reach::Reached; ++i) {
        const std::size_t depth = i - root.count;  // 0: right below the root
        std::string name(parts[i]);
        if (name == "." || name == "..") return Opened{Reach::Refused, {}};
        if (root.kind == RootKind::Snap && depth == 1 && name == "current") {
            Reach reach = Reach::Absent;
            const std::optional<std::string> revision = snapRevision(out.fd.get(), reach);
            if (!revision) return Opened{reach, {}};
            name = *revision;
        }
        if (root.kind == RootKind::Xdg && depth == 0) {  // an application's top folder
            int hops = 40;
            out = enterUsers(out.fd.get(), name, roots.sandboxes, hops);
            continue;
        }
        UniqueFd next(::openat(out.fd.get(), name.c_str(), kWayFlags | O_NOFOLLOW));
        if (!next) return Opened{unreachable(errno), {}};
        out.fd = std::move(next);
    }
    return out;
}

}  // namespace

std::vector<FolderID> folderChain(int fd) {
    std::vector<FolderID> chain;
    UniqueFd up;
    struct stat st;
    // Bounded, in case a file system reports ".." strangely.
    for (int at = fd; at >= 0 && chain.size() < 4096 && ::fstat(at, &st) == 0;) {
        const FolderID id{st.st_dev, st.st_ino};
        if (!chain.empty() && chain.back() == id) break;  // "/" is its own parent
        chain.push_back(id);
        up.reset(::openat(at, "..", kWayFlags));
        at = up.get();
    }
    return chain;
}

Sandboxes sandboxesOf(std::string_view home) {
    Sandboxes out;
    if constexpr (kLinuxLocations) {
        const std::string base = homePrefix(home);
        for (const std::string& folder : {base + "/.var/app", base + "/snap"}) {
            struct stat st;
            if (::stat(folder.c_str(), &st) == 0) out.roots.emplace_back(st.st_dev, st.st_ino);
        }
    }
    return out;
}

TrustedRoots currentTrustedRoots() {
    TrustedRoots roots;
    roots.home = homeDirectory();
    if constexpr (kLinuxLocations) {
        const BaseDirs dirs = currentBaseDirs(roots.home);
        roots.cacheHome = dirs.cacheHome;
        roots.configHome = dirs.configHome;
        roots.sandboxes = sandboxesOf(roots.home);
    }
    return roots;
}

Opened openUsersFolder(std::string_view path, const Sandboxes& sandboxes) {
    const std::vector<std::string_view> parts = pathComponents(path);
    return openUsersFolderFrom(parts, parts.size(), sandboxes);
}

OpenedParent openParent(std::string_view path, const TrustedRoots& roots) {
    const std::vector<std::string_view> parts = pathComponents(path);
    OpenedParent out;
    if (parts.empty() || path.front() != '/') return out;
    out.leaf = std::string(parts.back());
    if (out.leaf == "." || out.leaf == "..") {
        out.reach = Reach::Refused;
        return out;
    }
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
    const std::vector<std::string_view> parts = pathComponents(path);
    return walkDown(parts, parts.size(), roots);
}

std::size_t rootComponents(std::string_view path, const TrustedRoots& roots) {
    const std::vector<std::string_view> parts = pathComponents(path);
    const Root root = rootOf(parts, parts.size(), roots);
    return root.kind == RootKind::FollowAll ? 0 : root.count;
}

bool isMountPoint(int parentFd, const char* name) {
    struct statx parent, item;
    constexpr unsigned kMask = STATX_INO | STATX_MNT_ID;
    if (::statx(parentFd, "", AT_EMPTY_PATH, kMask, &parent) != 0 ||
        ::statx(parentFd, name, AT_SYMLINK_NOFOLLOW, kMask, &item) != 0) {
        return false;  // gone, or unreadable: the caller's own checks decide
    }
    if (parent.stx_dev_major != item.stx_dev_major || parent.stx_dev_minor != item.stx_dev_minor) {
        return true;
    }
    // A bind mount of the same file system shares the device number, hence the mount id.
    return (parent.stx_mask & item.stx_mask & STATX_MNT_ID) != 0 &&
           parent.stx_mnt_id != item.stx_mnt_id;
}

}  // namespace sweepkin
