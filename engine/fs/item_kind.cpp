#include "engine/fs/item_kind.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include "engine/catalogue/pattern.h"
#include "engine/fs/mounts.h"
#include "engine/fs/unique_fd.h"
#include "engine/fs/way.h"

namespace sweepkin {

Classified classify(int parentFd, const std::string& name, const UserIds& ids) {
    Classified out;
    if (::fstatat(parentFd, name.c_str(), &out.st, AT_SYMLINK_NOFOLLOW) != 0) return out;
    if (isMountPoint(parentFd, name.c_str())) {
        out.kind = ItemKind::Mount;
        return out;
    }
    const UniqueFd fd(S_ISDIR(out.st.st_mode)
                          ? ::openat(parentFd, name.c_str(), O_PATH | O_CLOEXEC | O_NOFOLLOW)
                          : -1);
    struct stat named;  // a link to nothing counts as nothing
    if (whoseEntry(fd.get(), out.st, ids) != Whose::Users) {
        out.kind = ItemKind::Others;
    } else if (S_ISLNK(out.st.st_mode)) {
        if (::fstatat(parentFd, name.c_str(), &named, 0) == 0) out.kind = ItemKind::Link;
    } else {
        out.kind = S_ISDIR(out.st.st_mode) ? ItemKind::Folder : ItemKind::File;
    }
    return out;
}

std::vector<std::string> matchingEntries(int fd, std::string_view component) {
    std::vector<std::string> out;
    const int listing = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return out;
    DIR* dir = ::fdopendir(listing);
    if (dir == nullptr) {
        ::close(listing);
        return out;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != ".." && wildcardMatch(component, name)) out.emplace_back(name);
    }
    ::closedir(dir);
    return out;
}

}  // namespace sweepkin
