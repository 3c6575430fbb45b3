#include "engine/fs/ownership.h"

#include <grp.h>
#include <pwd.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace sweepkin {

namespace {

// The user's private group: the primary group, when it bears the user's name and nobody else
// belongs to it, as a member or through their own primary group.
std::optional<gid_t> privateGroup() {
    static const std::optional<gid_t> found = []() -> std::optional<gid_t> {
        const uid_t me = ::geteuid();
        const passwd* pw = ::getpwuid(me);
        if (pw == nullptr) return std::nullopt;
        const std::string name = pw->pw_name;
        const gid_t gid = pw->pw_gid;
        const struct group* gr = ::getgrgid(gid);
        if (gr == nullptr || name != gr->gr_name) return std::nullopt;
        if (gr->gr_mem != nullptr && gr->gr_mem[0] != nullptr) return std::nullopt;
        ::setpwent();
        bool shared = false;
        while (const passwd* other = ::getpwent()) {
            shared = shared || (other->pw_gid == gid && other->pw_uid != me);
        }
        ::endpwent();
        return shared ? std::nullopt : std::optional<gid_t>(gid);
    }();
    return found;
}

bool isPrivateGroup(gid_t gid) {
    return privateGroup() == gid;
}

// The POSIX access ACL as the kernel stores it: a version, then entries of tag, permissions, id.
constexpr std::uint16_t kAclUser = 0x02, kAclGroupObj = 0x04, kAclGroup = 0x08;
constexpr std::uint16_t kAclWrite = 0x02;

// An ACL entry lets someone other than the user, or a group other than the private group,
// write. Only asked when the group bits (the ACL's mask) allow writing. An ACL that cannot be
// read counts as one that lets others write.
bool aclLetsOthersWrite(int fd, const struct stat& st) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    std::vector<unsigned char> acl(4 + 8 * 64);
    const ssize_t n = ::getxattr(self.c_str(), "system.posix_acl_access", acl.data(), acl.size());
    if (n < 0) {
        const bool none = errno == ENODATA || errno == ENOTSUP;  // Linux: ENOTSUP is EOPNOTSUPP
        return !none || !isPrivateGroup(st.st_gid);
    }
    for (std::size_t at = 4; at + 8 <= static_cast<std::size_t>(n); at += 8) {
        std::uint16_t tag, perm;
        std::uint32_t id;
        std::memcpy(&tag, &acl[at], 2);
        std::memcpy(&perm, &acl[at + 2], 2);
        std::memcpy(&id, &acl[at + 4], 4);
        if ((perm & kAclWrite) == 0) continue;
        if ((tag == kAclUser && id != ::geteuid()) || (tag == kAclGroup && !isPrivateGroup(id)) ||
            (tag == kAclGroupObj && !isPrivateGroup(st.st_gid))) {
            return true;
        }
    }
    return false;
}

bool othersMayWrite(int fd, const struct stat& st) {
    if ((st.st_mode & S_IWOTH) != 0) return true;
    return (st.st_mode & S_IWGRP) != 0 && aclLetsOthersWrite(fd, st);
}

}  // namespace

bool ownedByUserOrRoot(const struct stat& st) {
    return ownedByUserOrRoot(st, ::geteuid());
}

bool ownedByUserOrRoot(const struct stat& st, uid_t me) {
    return st.st_uid == me || st.st_uid == 0;
}

bool othersMayRename(int fd, const struct stat& st) {
    return (st.st_mode & S_ISVTX) == 0 && othersMayWrite(fd, st);
}

bool othersMayAdd(int fd, const struct stat& st) {
    return othersMayWrite(fd, st);
}

}  // namespace sweepkin
