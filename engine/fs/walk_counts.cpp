#include "engine/fs/walk_counts.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace sweepkin {

Failure failureOf(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return Failure::PermissionDenied;
        case EBUSY:
        case ETXTBSY:
            return Failure::InUse;
        case EROFS:
            return Failure::ReadOnly;
        default:
            return Failure::Other;
    }
}

std::int64_t countedSize(const struct stat& st) {
    if (!S_ISREG(st.st_mode) || st.st_size <= 0) return 0;
    const std::int64_t onDisk =
        st.st_blocks > INT64_MAX / 512 ? INT64_MAX : static_cast<std::int64_t>(st.st_blocks) * 512;
    return std::min<std::int64_t>(st.st_size, onDisk);
}

std::int64_t addBytes(std::int64_t a, std::int64_t b) {
    std::int64_t sum;
    if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? INT64_MAX : INT64_MIN;
    return sum;
}

}  // namespace sweepkin
