#include "engine/fs/mounts.h"

#include <fcntl.h>
#include <sys/sysmacros.h>

namespace sweepkin {

MountOf mountOf(const struct statx& sx) {
    return {makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_mnt_id,
            (sx.stx_mask & STATX_MNT_ID) != 0};
}

bool sameMount(const MountOf& a, const MountOf& b) {
    return a.hasMountId && b.hasMountId ? a.mountId == b.mountId : a.dev == b.dev;
}

bool isMountPoint(int parentFd, const char* name) {
    struct statx parent, item;
    constexpr unsigned kMask = STATX_INO | STATX_MNT_ID;
    if (::statx(parentFd, "", AT_EMPTY_PATH, kMask, &parent) != 0 ||
        ::statx(parentFd, name, AT_SYMLINK_NOFOLLOW, kMask, &item) != 0) {
        return false;  // gone, or unreadable: the caller's own checks decide
    }
    return !sameMount(mountOf(parent), mountOf(item));
}

}  // namespace sweepkin
