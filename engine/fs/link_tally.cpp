#include "engine/fs/link_tally.h"

#include <algorithm>

#include "engine/fs/walk_counts.h"

namespace sweepkin {

std::int64_t LinkTally::meet(const struct stat& st) {
    if (!S_ISREG(st.st_mode)) return 0;
    if (st.st_nlink <= 1) return countedSize(st);
    std::lock_guard lock(mutex_);
    Names& names = files_[{st.st_dev, st.st_ino}];
    // A removal sees the count drop as it unlinks the other names (on the other thread, too);
    // the largest count seen is how many names the file had when the row was first met.
    names.links = std::max(names.links, st.st_nlink);
    if (++names.met < names.links) return 0;
    files_.erase({st.st_dev, st.st_ino});
    return countedSize(st);
}

}  // namespace sweepkin
