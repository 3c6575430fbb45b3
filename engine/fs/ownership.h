#pragma once
// Who besides the user may change a folder or have made a link: the checks that decide whether
// what lies behind a folder, or a link found in it, can be trusted.

#include <sys/stat.h>

namespace sweepkin {

// The user running the program (`me`, when already asked), or root.
bool ownedByUserOrRoot(const struct stat& st);
bool ownedByUserOrRoot(const struct stat& st, uid_t me);

// Someone else may rename or remove entries in the folder `fd` (whose status is `st`): it is
// writable by others, by a group that is not the user's private group, or an ACL entry lets
// another user or group write; in a sticky folder only each entry's owner may, so it is safe.
bool othersMayRename(int fd, const struct stat& st);

// Someone else may add entries to the folder `fd`, sticky or not: a link there may be theirs
// (a hard link of the user's own, say).
bool othersMayAdd(int fd, const struct stat& st);

}  // namespace sweepkin
