#include "engine/fs/deletion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "engine/fs/unique_fd.h"

namespace sweepkin {

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool sameEntry(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes one item; what went is added to `freed`, files with several names as `links` says.
// Failure::None when it is gone or was never to be removed.
Failure removeItem(const Item& item, const DescendHook* hook, LinkTally& links,
                   std::int64_t& freed) {
    // The folder that holds it, reached again by the way it was found; another folder there now
    // is not where the item was.
    const UniqueFd parent = item.openParent();
    if (!parent)
        return errno == ENOENT   ? Failure::None
               : errno == ESTALE ? Failure::InUse
                                 : failureOf(errno);
    const int parentFd = parent.get();
    const char* name = item.name.c_str();
    const Classified what = classify(parentFd, item.name, item.ids());
    if (what.kind == ItemKind::Missing || what.kind == ItemKind::Mount ||
        what.kind == ItemKind::Others) {
        return Failure::None;
    }
    // The same entry that was looked at, just before it goes; anything else swapped in since
    // stays.
    struct stat now;
    if (::fstatat(parentFd, name, &now, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? Failure::None : failureOf(errno);
    }
    if (!sameEntry(now, what.st)) return Failure::InUse;
    if (what.kind != ItemKind::Folder) {
        if (::unlinkat(parentFd, name, 0) == 0) {
            freed = addBytes(freed, links.meet(what.st));
            return Failure::None;
        }
        return errno == ENOENT ? Failure::None : failureOf(errno);
    }

    if (hook != nullptr && *hook) (*hook)(parentFd, name);
    UniqueFd dir(::openat(parentFd, name, kDirFlags));
    struct stat opened;
    if (!dir) {
        const int error = errno;
        if (error == ENOENT) return Failure::None;
        if (error == ELOOP || error == ENOTDIR) {
            // No longer a folder (a link swapped in, say): removed as itself, never followed.
            return ::unlinkat(parentFd, name, 0) == 0 || errno == ENOENT ? Failure::None
                                                                         : failureOf(errno);
        }
        // A folder we may not list can still go if it is empty.
        if (::unlinkat(parentFd, name, AT_REMOVEDIR) == 0) return Failure::None;
        return failureOf(error);
    }
    if (::fstat(dir.get(), &opened) != 0 || !sameEntry(opened, what.st)) return Failure::InUse;

    // Files first, on two threads; then one pass removes the folders bottom-up, together with
    // anything the first pass left. Whatever went counts, even when something stays.
    const WalkResult files = walkTree(dir.get(), WalkMode::UnlinkFiles, 2, hook, &links);
    const WalkResult rest = walkTree(dir.get(), WalkMode::RemoveAll, 1, hook, &links);
    dir.reset();
    freed = addBytes(freed, addBytes(files.bytes, rest.bytes));
    if (rest.failed) return rest.failure;
    if (::unlinkat(parentFd, name, AT_REMOVEDIR) != 0 && errno != ENOENT) {
        return files.failed ? files.failure : failureOf(errno);
    }
    return Failure::None;
}

}  // namespace

DeleteResult deleteCachePaths(const std::vector<Item>& items, const DeletionHooks& hooks) {
    DeleteResult result;
    const DescendHook* hook = hooks.beforeDescend ? &hooks.beforeDescend : nullptr;
    // One tally for all the items: a file's names may lie in two of them.
    LinkTally links;
    for (const Item& item : items) {
        // The resolver admitted it; the text is checked again here all the same.
        if (!item.passesGuard()) continue;
        const Failure failure = removeItem(item, hook, links, result.freed);
        if (failure != Failure::None) {
            result.anyFailed = true;
            result.stayed.push_back({item.path, failure});
        }
    }
    return result;
}

DeleteResult deleteLocations(Resolver& resolver, const std::vector<Location>& locations,
                             const DeletionHooks& hooks) {
    std::vector<Stayed> unreachable;
    DeleteResult result = deleteCachePaths(resolver.items(locations, &unreachable), hooks);
    result.anyFailed = result.anyFailed || !unreachable.empty();
    result.stayed.insert(result.stayed.end(), unreachable.begin(), unreachable.end());
    return result;
}

std::string failureText(Failure failure) {
    switch (failure) {
        case Failure::PermissionDenied:
            return "permission denied";
        case Failure::InUse:
            return "in use";
        case Failure::ReadOnly:
            return "read-only file system";
        case Failure::Mounted:
            return "another file system is mounted inside";
        case Failure::Shared:
            return "other users may change a folder inside";
        case Failure::OthersFiles:
            return "another user's files inside";
        case Failure::NotCache:
            return "not a cache";
        case Failure::None:
        case Failure::Other:
            break;
    }
    return "could not be removed";
}

}  // namespace sweepkin
