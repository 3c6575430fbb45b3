#include "engine/deletion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "engine/base_dirs.h"
#include "engine/home.h"
#include "engine/safety_guard.h"
#include "engine/tree_walk.h"
#include "engine/unique_fd.h"

namespace sweepkin {

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The folder that holds a cache path, opened, and the path's last component.
struct Located {
    UniqueFd parent;
    std::string leaf;
};

enum class Outcome { Skipped, Removed, Failed };

// Opens the parent of `path`. A path admitted only because it lies inside a caches folder must
// really lie there: a link on the way down from the caches folder could lead anywhere on the
// disk, so such a path is opened one component at a time without following links.
bool locate(const std::string& path, Located& out) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    const std::string item = path.substr(0, end);
    const std::size_t slash = item.rfind('/');
    out.leaf = slash == std::string::npos ? item : item.substr(slash + 1);
    if (out.leaf.empty() || out.leaf == "." || out.leaf == "..") return false;
    const std::string parentPath =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : item.substr(0, slash));

    // For a bare name the guard can only answer through its cache-named-leaf rule.
    const bool leafIsCacheNamed = isSafeCachePath(out.leaf);
    const std::string home = homeDirectory();
    const std::optional<std::string> cachesFolder =
        enclosingCachesFolder(item, home, currentBaseDirs(home).cacheHome);
    if (leafIsCacheNamed || !cachesFolder) {
        out.parent.reset(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        return out.parent.valid();
    }

    UniqueFd dir(::open(cachesFolder->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::string_view rest = std::string_view(parentPath).substr(cachesFolder->size());
    while (dir && !rest.empty()) {
        const std::size_t next = rest.find('/');
        const std::string component(rest.substr(0, next));
        rest.remove_prefix(next == std::string_view::npos ? rest.size() : next + 1);
        if (component.empty()) continue;
        dir.reset(::openat(dir.get(), component.c_str(), kDirFlags));
    }
    out.parent = std::move(dir);
    return out.parent.valid();
}

Outcome removeNonFolder(int parentFd, const std::string& leaf, std::int64_t size,
                        std::int64_t& freed) {
    if (::unlinkat(parentFd, leaf.c_str(), 0) == 0) {
        freed += size;
        return Outcome::Removed;
    }
    return errno == ENOENT ? Outcome::Skipped : Outcome::Failed;
}

Outcome removeOne(const std::string& path, const DescendHook* hook, std::int64_t& freed) {
    Located target;
    if (!locate(path, target)) return Outcome::Skipped;
    const int parentFd = target.parent.get();
    const char* leaf = target.leaf.c_str();

    struct stat st;
    // The existence test follows a final link: a link to nothing counts as missing.
    if (::fstatat(parentFd, leaf, &st, 0) != 0) return Outcome::Skipped;
    if (::fstatat(parentFd, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) return Outcome::Skipped;
    if (S_ISLNK(st.st_mode)) return removeNonFolder(parentFd, target.leaf, 0, freed);
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
