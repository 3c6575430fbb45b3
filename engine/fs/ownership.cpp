#include "engine/fs/ownership.h"

#include <grp.h>
#include <pwd.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace sweepkin {

namespace {

struct IdMap {
    bool readable = false;
    bool everyId = false;  // "0 0 4294967295": every id as itself
    bool mapsId = false;   // the id asked for lies in a range mapped from outside
};

// One of /proc/self/uid_map or gid_map: lines of "inside outside count".
IdMap readMap(const char* path, unsigned long id) {
    IdMap map;
    std::ifstream in(path);
    map.readable = static_cast<bool>(in);
    unsigned long inside = 0, outside = 0, count = 0;
    int lines = 0;
    while (in >> inside >> outside >> count) {
        ++lines;
        map.everyId = lines == 1 && inside == 0 && outside == 0 && count == 4294967295UL;
        map.mapsId = map.mapsId || (id >= inside && id - inside < count);
    }
    map.everyId = map.everyId && lines == 1;
    return map;
}

template <typename Id>
Id overflowId(const char* path, Id fallback) {
    std::ifstream in(path);
    unsigned long value = 0;
    return in >> value ? static_cast<Id>(value) : fallback;
}

std::optional<gid_t> privateGroupOf(uid_t me, const UserIds& ids) {
    const passwd* pw = ::getpwuid(me);
    if (pw == nullptr) return std::nullopt;
    const std::string name = pw->pw_name;
    const gid_t gid = pw->pw_gid;
    if (!ids.everyGid && gid == ids.overflowGid) return std::nullopt;
    const struct group* gr = ::getgrgid(gid);
    if (gr == nullptr || name != gr->gr_name) return std::nullopt;
    // A sandbox's generated group file lists the user in their own group: still theirs alone.
    for (char** member = gr->gr_mem; member != nullptr && *member != nullptr; ++member) {
        if (name != *member) return std::nullopt;
    }
    ::setpwent();
    bool shared = false;
    while (const passwd* other = ::getpwent()) {
        shared = shared || (other->pw_gid == gid && other->pw_uid != me);
    }
    ::endpwent();
    return shared ? std::nullopt : std::optional<gid_t>(gid);
}

bool isPrivateGroup(gid_t gid, const UserIds& ids) {
    return ids.privateGroup == gid && (ids.everyGid || gid != ids.overflowGid);
}

// The POSIX access ACL as the kernel stores it: a version, then entries of tag, permissions, id.
constexpr std::uint16_t kAclUser = 0x02, kAclGroupObj = 0x04, kAclGroup = 0x08;
constexpr std::uint16_t kAclWrite = 0x02;

// An ACL entry lets someone other than the user, or a group other than the private group,
// write. Only asked when the group bits (the ACL's mask) allow writing. An ACL that cannot be
// read counts as one that lets others write.
bool aclLetsOthersWrite(int fd, const struct stat& st, const UserIds& ids) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    std::vector<unsigned char> acl(4 + 8 * 64);
    const ssize_t n = ::getxattr(self.c_str(), "system.posix_acl_access", acl.data(), acl.size());
    if (n < 0) {
        const bool none = errno == ENODATA || errno == ENOTSUP;  // Linux: ENOTSUP is EOPNOTSUPP
        return !none || !isPrivateGroup(st.st_gid, ids);
    }
    for (std::size_t at = 4; at + 8 <= static_cast<std::size_t>(n); at += 8) {
        std::uint16_t tag, perm;
        std::uint32_t id;
        std::memcpy(&tag, &acl[at], 2);
        std::memcpy(&perm, &acl[at + 2], 2);
        std::memcpy(&id, &acl[at + 4], 4);
        if ((perm & kAclWrite) == 0) continue;
        if ((tag == kAclUser && !isUser(id, ids)) ||
            (tag == kAclGroup && !isPrivateGroup(id, ids)) ||
            (tag == kAclGroupObj && !isPrivateGroup(st.st_gid, ids))) {
            return true;
        }
    }
    return false;
}

bool othersMayWrite(int fd, const struct stat& st, const UserIds& ids) {
    if ((st.st_mode & S_IWOTH) != 0) return true;
    return (st.st_mode & S_IWGRP) != 0 && aclLetsOthersWrite(fd, st, ids);
}

}  // namespace

UserIds readUserIds() {
    UserIds ids;
    ids.uid = ::geteuid();
    ids.gid = ::getegid();
    ids.overflowUid = overflowId<uid_t>("/proc/sys/kernel/overflowuid", 65534);
    ids.overflowGid = overflowId<gid_t>("/proc/sys/kernel/overflowgid", 65534);
    const IdMap uids = readMap("/proc/self/uid_map", ids.uid);
    const IdMap gids = readMap("/proc/self/gid_map", ids.gid);
    ids.everyUid = !uids.readable || uids.everyId;
    ids.everyGid = !gids.readable || gids.everyId;
    ids.userMapped = !uids.readable || uids.mapsId;
    ids.privateGroup = privateGroupOf(ids.uid, ids);
    return ids;
}

const UserIds& startupUserIds() {
    static std::mutex mutex;
    static std::optional<UserIds> ids;
    std::lock_guard lock(mutex);
    if (!ids || ids->uid != ::geteuid() || ids->gid != ::getegid()) ids = readUserIds();
    return *ids;
}

bool isUser(uid_t owner, const UserIds& ids) {
    return owner == ids.uid && ids.userMapped && (ids.everyUid || owner != ids.overflowUid);
}

bool isRoot(uid_t owner, const UserIds& ids) {
    return owner == 0 && (ids.everyUid || owner != ids.overflowUid);
}

bool ownedByUserOrRoot(const struct stat& st, const UserIds& ids) {
    return isUser(st.st_uid, ids) || isRoot(st.st_uid, ids);
}

bool othersMayRename(int fd, const struct stat& st, const UserIds& ids) {
    return (st.st_mode & S_ISVTX) == 0 && othersMayWrite(fd, st, ids);
}

Whose whoseEntry(int fd, const struct stat& st, const UserIds& ids) {
    if (!ownedByUserOrRoot(st, ids)) return Whose::OthersOwn;
    if (S_ISDIR(st.st_mode) && (fd < 0 || othersMayRename(fd, st, ids)))
        return Whose::OthersMayChange;
    return Whose::Users;
}

bool othersMayAdd(int fd, const struct stat& st, const UserIds& ids) {
    return othersMayWrite(fd, st, ids);
}

}  // namespace sweepkin
