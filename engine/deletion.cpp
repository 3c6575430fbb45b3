#include "engine/deletion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/path_opener.h"
#include "engine/safety_guard.h"
#include "engine/tree_walk.h"
#include "engine/unique_fd.h"

namespace sweepkin {

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

enum class Outcome { Skipped, Removed, Failed };

Outcome removeNonFolder(int parentFd, const std::string& leaf, std::int64_t size,
                        std::int64_t& freed) {
    if (::unlinkat(parentFd, leaf.c_str(), 0) == 0) {
        freed += size;
        return Outcome::Removed;
    }
    return errno == ENOENT ? Outcome::Skipped : Outcome::Failed;
}

Outcome removeOne(const std::string& path, const DescendHook* hook, std::int64_t& freed) {
    // Reached exactly as it was measured; behind a link that is not followed there is nothing to
    // do, while a folder on the way that cannot be searched is a failure the user hears of.
    const OpenedParent target = openParent(path, currentTrustedRoots());
    if (target.reach == Reach::Failed) return Outcome::Failed;
    if (target.reach != Reach::Reached) return Outcome::Skipped;
    const int parentFd = target.fd.get();
    const char* leaf = target.leaf.c_str();

    struct stat st;
    if (::fstatat(parentFd, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? Outcome::Skipped : Outcome::Failed;
    }
    // What is mounted there is not the cache's to empty or remove; it was not counted either.
    if (isMountPoint(parentFd, leaf)) return Outcome::Skipped;
    if (S_ISLNK(st.st_mode)) {
        // The existence test follows a final link: a link to nothing counts as missing.
        struct stat named;
        if (::fstatat(parentFd, leaf, &named, 0) != 0) return Outcome::Skipped;
        return removeNonFolder(parentFd, target.leaf, 0, freed);
    }
    if (!S_ISDIR(st.st_mode)) {
        return removeNonFolder(parentFd, target.leaf, S_ISREG(st.st_mode) ? st.st_size : 0, freed);
    }

    if (hook != nullptr && *hook) (*hook)(parentFd, leaf);
    UniqueFd dir(::openat(parentFd, leaf, kDirFlags));
    if (!dir) {
        if (errno == ENOENT) return Outcome::Skipped;
        if (errno == ELOOP || errno == ENOTDIR) {
            return removeNonFolder(parentFd, target.leaf, 0, freed);
        }
        // A folder we may not list can still go if it is empty.
        if (::unlinkat(parentFd, leaf, AT_REMOVEDIR) == 0) return Outcome::Removed;
        return Outcome::Failed;
    }

    // Files first, on two threads; then one pass removes the folders bottom-up, together with
    // anything the first pass left. Only the second pass decides success.
    const WalkResult files = walkTree(dir.get(), WalkMode::UnlinkFiles, 2, hook);
    const WalkResult rest = walkTree(dir.get(), WalkMode::RemoveAll, 1, hook);
    dir.reset();
    if (rest.failed || ::unlinkat(parentFd, leaf, AT_REMOVEDIR) != 0) return Outcome::Failed;
    freed += files.bytes + rest.bytes;
    return Outcome::Removed;
}

}  // namespace

DeleteResult deleteCachePaths(const std::vector<std::string>& paths) {
    return deleteCachePaths(paths, DeletionHooks{});
}

DeleteResult deleteCachePaths(const std::vector<std::string>& paths, const DeletionHooks& hooks) {
    DeleteResult result;
    const DescendHook* hook = hooks.beforeDescend ? &hooks.beforeDescend : nullptr;
    for (const std::string& path : paths) {
        if (!isSafeCachePath(path)) continue;
        std::int64_t freed = 0;
        switch (removeOne(path, hook, freed)) {
            case Outcome::Skipped:
                break;
            case Outcome::Removed:
                result.freed += freed;
                break;
            case Outcome::Failed:
                result.anyFailed = true;
                break;
        }
    }
    return result;
}

}  // namespace sweepkin
