#pragma once
// Who besides the user may change a folder or have made a link: the checks that decide whether
// what lies behind a folder, or a link found in it, can be trusted.

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>

namespace sweepkin {

// Who the user is, as this process's user namespace shows owners. Outside a namespace every id
// shows as itself; inside one, every owner the namespace does not map shows as the overflow id
// (and group), root and other users alike, so that id says nothing about whose a file is.
struct UserIds {
    uid_t uid = 0;  // the effective ids
    gid_t gid = 0;
    uid_t overflowUid = 65534;
    gid_t overflowGid = 65534;
    bool everyUid = true;  // the uid map is the identity map of every id
    bool everyGid = true;
    bool userMapped = true;  // the user's own id is mapped: their folders can be told apart
    // The primary group, when it bears the user's name, lists nobody but the user and is no other
    // account's primary group.
    std::optional<gid_t> privateGroup = {};
};

// Read from /proc/self/uid_map and gid_map, the kernel's overflow ids and the account databases.
// (A system without the maps has no user namespaces: every id shows as itself.)
UserIds readUserIds();

// Read once, at start-up; the same values ever after. (Only a process that changes its effective
// user later, as the tests' children do, has them read again.)
const UserIds& startupUserIds();

// `owner` is the user, or root; never the overflow id unless every id shows as itself.
bool isUser(uid_t owner, const UserIds& ids);
bool isRoot(uid_t owner, const UserIds& ids);
bool ownedByUserOrRoot(const struct stat& st, const UserIds& ids);

// Whose an entry is, by the one owner rule.
enum class Whose {
    Users,            // the user's, or root's (root's are the user's to try)
    OthersOwn,        // another user's
    OthersMayChange,  // a folder others may change (or one that could not be opened to tell)
};

// The one owner rule for every kind of entry (file, folder, link, fifo, socket, device), at an
// item and inside a cache folder alike: another user's entry, or a folder others may change, is
// neither counted nor removed, nor is a folder on the way to one taken. `fd` is the entry opened
// (O_PATH will do) when it is a folder, else unused; `st` its own status, not a link's target.
Whose whoseEntry(int fd, const struct stat& st, const UserIds& ids);

// Someone else may rename or remove entries in the folder `fd` (whose status is `st`): it is
// writable by others, by a group that is not the user's private group, or an ACL entry lets
// another user or group write; in a sticky folder only each entry's owner may, so it is safe.
bool othersMayRename(int fd, const struct stat& st, const UserIds& ids);

// Someone else may add entries to the folder `fd`, sticky or not: a link there may be theirs
// (a hard link of the user's own, say).
bool othersMayAdd(int fd, const struct stat& st, const UserIds& ids);

}  // namespace sweepkin
