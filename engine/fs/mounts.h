#pragma once
// The one rule for what counts as mounted, inside a walk and out: by mount id where the kernel
// gives one (a bind mount of the same file system shares the device number; a btrfs subvolume has
// a number of its own on the same mount), else by device.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>

namespace sweepkin {

// Where an entry is mounted, as statx tells it (asked with STATX_MNT_ID).
struct MountOf {
    dev_t dev = 0;
    std::uint64_t mountId = 0;
    bool hasMountId = false;
};

MountOf mountOf(const struct statx& sx);

bool sameMount(const MountOf& a, const MountOf& b);

// The item `name` in `parentFd` is not on its parent's mount: another file system, or a bind
// mount, mounted there.
bool isMountPoint(int parentFd, const char* name);

}  // namespace sweepkin
