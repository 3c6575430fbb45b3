#include "engine/fs/way.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "engine/fs/home.h"
#include "engine/fs/mounts.h"
#include "engine/platform.h"

namespace sweepkin {

namespace {

using enum Follow;

constexpr int kPathFlags = O_PATH | O_CLOEXEC;
constexpr int kMaxLinks = 40;

Reach unreachable(int error) {
    return error == ENOENT || error == ENOTDIR ? Reach::Absent : Reach::Failed;
}

}  // namespace

std::string below(const std::string& folder, std::string_view name) {
    return (folder == "/" ? "" : folder) + "/" + std::string(name);
}

namespace {

Opened outcome(Reach reach, UniqueFd fd = {}) {
    Opened out;
    out.error = reach == Reach::Failed ? errno : 0;
    out.reach = reach;
    out.fd = std::move(fd);
    return out;
}

Opened refused(Refusal why, std::string where) {
    Opened out = outcome(Reach::Refused);
    out.why = why;
    out.where = std::move(where);
    return out;
}

// `fd`, opened without following a link, as a folder the user may rely on: the user's or
// root's, and no one else may rename what is in it.
Opened trusted(UniqueFd fd, const std::string& text, const UserIds& ids) {
    struct stat st;
    if (!fd) return outcome(unreachable(errno));
    if (::fstat(fd.get(), &st) != 0) return outcome(Reach::Failed);
    if (S_ISLNK(st.st_mode)) return refused(Refusal::NotFollowed, text);
    if (!S_ISDIR(st.st_mode)) return outcome(Reach::Absent);
    switch (whoseEntry(fd.get(), st, ids)) {
        case Whose::OthersOwn:
            return refused(Refusal::OthersOwn, text);
        case Whose::OthersMayChange:
            return refused(Refusal::OthersMayWrite, text);
        case Whose::Users:
            break;
    }
    return outcome(Reach::Reached, std::move(fd));
}

}  // namespace

// `at`, when reached, if it is the user's own folder; else refused as another user's.
Opened usersOwn(Opened at, const std::string& text, const UserIds& ids) {
    struct stat st;
    if (at.reach == Reach::Reached && (::fstat(at.fd.get(), &st) != 0 || !isUser(st.st_uid, ids))) {
        return refused(Refusal::OthersOwn, text);
    }
    return at;
}

namespace {

bool chainHas(int fd, const std::vector<FolderID>& ids) {
    if (ids.empty()) return false;
    const std::vector<FolderID> chain = folderChain(fd);
    return std::any_of(chain.begin(), chain.end(), [&](const FolderID& id) {
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    });
}

Opened walkWay(Opened at, std::string atText, std::string_view path, const WayRules& rules,
               int& hops);

// Enters `name` in the trusted folder `dirFd` (text `dirText`), taking a link only when the user
// alone can have made it; its target is walked one component at a time by the same rule.
Opened enterUsers(int dirFd, const std::string& dirText, const std::string& name,
                  const WayRules& rules, int& hops) {
    const std::string text = below(dirText, name);
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return outcome(unreachable(errno));
    }
    if (!S_ISLNK(st.st_mode)) {
        return trusted(UniqueFd(::openat(dirFd, name.c_str(), kPathFlags | O_NOFOLLOW)), text,
                       rules.ids);
    }
    const bool rootsOutsideHome =
        isRoot(st.st_uid, rules.ids) && !(rules.home && chainHas(dirFd, {*rules.home}));
    if (!isUser(st.st_uid, rules.ids) && !rootsOutsideHome) {
        return refused(Refusal::OthersOwn, text);
    }
    struct stat dir;
    if (--hops < 0 || ::fstat(dirFd, &dir) != 0 || st.st_nlink != 1 ||
        othersMayAdd(dirFd, dir, rules.ids) || chainHas(dirFd, rules.sandboxes)) {
        return refused(Refusal::OthersMayWrite, text);
    }
    char buffer[4096];
    const ssize_t n = ::readlinkat(dirFd, name.c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) == sizeof buffer)
        return refused(Refusal::NotFollowed, text);
    const std::string target(buffer, static_cast<std::size_t>(n));
    const bool absolute = target.front() == '/';
    const std::string from = absolute ? "/" : dirText;
    return walkWay(trusted(UniqueFd(absolute ? ::open("/", kPathFlags | O_DIRECTORY)
                                             : ::openat(dirFd, ".", kPathFlags | O_DIRECTORY)),
                           from, rules.ids),
                   from, target, rules, hops);
}

Opened walkWay(Opened at, std::string atText, std::string_view path, const WayRules& rules,
               int& hops) {
    for (const std::string_view part : pathComponents(path)) {
        if (at.reach != Reach::Reached) break;
        if (part == ".") continue;
        if (part == "..") {  // where the folder really is, as the system takes it
            atText = atText.substr(0, std::max<std::size_t>(1, atText.rfind('/')));
            at = trusted(UniqueFd(::openat(at.fd.get(), "..", kPathFlags | O_DIRECTORY)), atText,
                         rules.ids);
        } else {
            at = enterUsers(at.fd.get(), atText, std::string(part), rules, hops);
            atText = below(atText, part);
        }
    }
    return at;
}

}  // namespace

// Enters `name` by the rule of its position.
Opened enter(int dirFd, const std::string& dirText, const std::string& name, Follow follow,
             bool entersMounts, const WayRules& rules) {
    if (name == "." || name == ".." || name.find('/') != std::string::npos) {
        return refused(Refusal::NotFollowed, below(dirText, name));
    }
    // What is mounted here belongs to another folder, however it is named here.
    if (!entersMounts && isMountPoint(dirFd, name.c_str())) {
        return refused(Refusal::MountPoint, below(dirText, name));
    }
    switch (follow) {
        case UsersLink: {
            int hops = kMaxLinks;
            return enterUsers(dirFd, dirText, name, rules, hops);
        }
        case Any: {
            UniqueFd fd(::openat(dirFd, name.c_str(), kPathFlags | O_DIRECTORY));
            return fd ? outcome(Reach::Reached, std::move(fd)) : outcome(unreachable(errno));
        }
        case Revision: {
            // Snapd points "current" at the revision in use, beside it: a number, or "x" and a
            // number for one installed from a file; never "common" or any other folder.
            char target[256];
            const ssize_t n = ::readlinkat(dirFd, name.c_str(), target, sizeof target);
            if (n >= 0) {
                const std::string_view revision(target, static_cast<std::size_t>(n));
                const std::string_view digits =
                    revision.starts_with('x') ? revision.substr(1) : revision;
                if (digits.empty() || digits.size() > 20 ||
                    digits.find_first_not_of("0123456789") != std::string_view::npos) {
                    return refused(Refusal::NotFollowed, below(dirText, name));
                }
                return enter(dirFd, dirText, std::string(revision), Never, false, rules);
            }
            if (errno != EINVAL) return outcome(unreachable(errno));
            return enter(dirFd, dirText, name, Never, false, rules);
        }
        case Never:
            break;
    }
    return trusted(UniqueFd(::openat(dirFd, name.c_str(), kPathFlags | O_NOFOLLOW)),
                   below(dirText, name), rules.ids);
}

// `name` in `dirFd` leads elsewhere: a link, or a mount point.
bool leadsElsewhere(int dirFd, const std::string& name) {
    struct stat st;
    return (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) ||
           isMountPoint(dirFd, name.c_str());
}

std::vector<FolderID> folderChain(int fd) {
    std::vector<FolderID> chain;
    UniqueFd up;
    struct stat st;
    // Bounded, in case a file system reports ".." strangely.
    for (int at = fd; at >= 0 && chain.size() < 4096 && ::fstat(at, &st) == 0;) {
        const FolderID id{st.st_dev, st.st_ino};
        if (!chain.empty() && chain.back() == id) break;  // "/" is its own parent
        chain.push_back(id);
        up.reset(::openat(at, "..", kPathFlags | O_DIRECTORY));
        at = up.get();
    }
    return chain;
}

WayRules wayRulesFor(std::string_view home) {
    WayRules rules;
    rules.ids = startupUserIds();
    const std::string base = homePrefix(home);
    struct stat st;
    if (::stat(base.empty() ? "/" : base.c_str(), &st) == 0)
        rules.home.emplace(st.st_dev, st.st_ino);
    if constexpr (kLinuxLocations) {
        for (const std::string& folder : {base + "/.var/app", base + "/snap"}) {
            if (::stat(folder.c_str(), &st) == 0)
                rules.sandboxes.emplace_back(st.st_dev, st.st_ino);
        }
    }
    return rules;
}

Opened openWay(std::string_view path, const WayRules& rules) {
    int hops = kMaxLinks;
    return walkWay(trusted(UniqueFd(::open("/", kPathFlags | O_DIRECTORY)), "/", rules.ids), "/",
                   path, rules, hops);
}

}  // namespace sweepkin
