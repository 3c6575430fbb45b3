#include "engine/fs/ownership.h"

#include <acl/libacl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/acl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>

namespace sweepkin {

namespace {

struct IdMap {
    bool readable = false;
    bool everyId = false;  // "0 0 4294967295": every id as itself
    bool mapsId = false;   // the id asked for lies in a range mapped from outside
};

// The next number in `text` after blanks and line ends, consumed; none when there is none.
std::optional<unsigned long> nextNumber(std::string_view& text) {
    text.remove_prefix(std::min(text.find_first_not_of(" \t\n"), text.size()));
    unsigned long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{}) return std::nullopt;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return value;
}

std::optional<std::string> readText(const char* path) {
    std::ifstream in(path);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// One of /proc/self/uid_map or gid_map: lines of "inside outside count".
IdMap readMap(const char* path, unsigned long id) {
    IdMap map;
    const std::optional<std::string> content = readText(path);
    map.readable = content.has_value();
    std::string_view text = content ? *content : std::string_view();
    int lines = 0;
    for (;;) {
        const auto inside = nextNumber(text), outside = nextNumber(text), count = nextNumber(text);
        if (!inside || !outside || !count) break;
        ++lines;
        map.everyId = lines == 1 && *inside == 0 && *outside == 0 && *count == 4294967295UL;
        map.mapsId = map.mapsId || (id >= *inside && id - *inside < *count);
    }
    map.everyId = map.everyId && lines == 1;
    return map;
}

template <typename Id>
Id overflowId(const char* path, Id fallback) {
    const std::optional<std::string> content = readText(path);
    std::string_view text = content ? *content : std::string_view();
    const std::optional<unsigned long> value = nextNumber(text);
    return value ? static_cast<Id>(*value) : fallback;
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

struct AclFree {
    void operator()(void* p) const { ::acl_free(p); }
};

// An ACL entry lets someone other than the user, or a group other than the private group,
// write. Only asked when the group bits (the ACL's mask) allow writing. An ACL that cannot be
// read counts as one that lets others write. Read through /proc/self/fd, as `fd` may be O_PATH.
bool aclLetsOthersWrite(int fd, const struct stat& st, const UserIds& ids) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    // Without an extended ACL this is the one the mode bits make.
    const std::unique_ptr<struct __acl_ext, AclFree> acl(
        ::acl_get_file(self.c_str(), ACL_TYPE_ACCESS));
    if (!acl) {
        const bool none = errno == ENOTSUP;  // Linux: ENOTSUP is EOPNOTSUPP
        return !none || !isPrivateGroup(st.st_gid, ids);
    }
    acl_entry_t entry;
    for (int at = ACL_FIRST_ENTRY; ::acl_get_entry(acl.get(), at, &entry) == 1;
         at = ACL_NEXT_ENTRY) {
        acl_tag_t tag;
        acl_permset_t perms;
        if (::acl_get_tag_type(entry, &tag) != 0 || ::acl_get_permset(entry, &perms) != 0) {
            return true;
        }
        if (::acl_get_perm(perms, ACL_WRITE) != 1) continue;
        if (tag == ACL_GROUP_OBJ && !isPrivateGroup(st.st_gid, ids)) return true;
        if (tag != ACL_USER && tag != ACL_GROUP) continue;
        const std::unique_ptr<void, AclFree> qualifier(::acl_get_qualifier(entry));
        if (!qualifier) return true;
        const bool theirs = tag == ACL_USER
                                ? !isUser(*static_cast<const uid_t*>(qualifier.get()), ids)
                                : !isPrivateGroup(*static_cast<const gid_t*>(qualifier.get()), ids);
        if (theirs) return true;
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
