#include "engine/fs/owner_rights.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace sweepkin {

namespace {

#ifndef SYS_fchmodat2
constexpr long SYS_fchmodat2 = 452;  // the same number on every architecture (Linux 6.6)
#endif

}  // namespace

bool lacksOwnerRights(const struct stat& st, const UserIds& ids) {
    return S_ISDIR(st.st_mode) && isUser(st.st_uid, ids) && (st.st_mode & S_IRWXU) != S_IRWXU;
}

bool giveOwnerRights(int fd, const struct stat& st) {
    const mode_t mode = (st.st_mode & 07777) | S_IRWXU;
    if (::fchmod(fd, mode) == 0) return true;
    if (errno != EBADF) return false;
    // An O_PATH descriptor (the folder could not be opened to be read): changed by that
    // descriptor all the same, where older kernels lack fchmodat2 through its entry in /proc,
    // which names the very folder the descriptor holds, not a path that could be swapped.
    if (::syscall(SYS_fchmodat2, fd, "", mode, AT_EMPTY_PATH) == 0) return true;
    if (errno != ENOSYS && errno != EINVAL) return false;
    return ::chmod(("/proc/self/fd/" + std::to_string(fd)).c_str(), mode) == 0;
}

}  // namespace sweepkin
