#pragma once
// Giving a folder's owner back what emptying it needs. Tools make their caches read-only on
// purpose (a module cache's folders 0555, a build's tree outputs) and leave helper folders even
// their owner may not list (0000, 0044); `rm -rf` fails on them. A removal restores the owner's
// rights on the user's own folders inside what it removes, always through a descriptor opened
// without following a link, so nothing another name leads to is ever changed.

#include <sys/stat.h>

#include "engine/fs/ownership.h"

namespace sweepkin {

// `st` is a folder of the user's own (never root's or another user's) whose owner may not list,
// search or change it.
bool lacksOwnerRights(const struct stat& st, const UserIds& ids);

// Adds list, search and write for the owner to the folder `fd` refers to, a descriptor opened
// normally or with O_PATH; the other bits stay. False when the system refused.
bool giveOwnerRights(int fd, const struct stat& st);

}  // namespace sweepkin
