#include "engine/sizes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>
#include <utility>

#include "engine/home.h"
#include "engine/path_opener.h"
#include "engine/tree_walk.h"
#include "engine/unique_fd.h"

namespace sweepkin {

namespace {

// printf's "%.<precision>f" in the C locale: correctly rounded, ties to even, "." always.
std::string fixed(double value, int precision) {
    char buffer[64];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    if (error != std::errc()) return "0";
    return std::string(buffer, end);
}

// The folder `name` inside `parentFd`, itself not followed when it is a link.
std::int64_t folderBytes(int parentFd, const char* name) {
    UniqueFd fd(::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return fd ? walkTree(fd.get(), WalkMode::Measure, 2).bytes : 0;
}

// One measured path: its size, and where it is on disk.
struct Measured {
    std::int64_t bytes = 0;
    std::optional<FolderID> item;  // absent when it counts nothing (missing, a link)
    std::vector<FolderID> above;   // the folders it lies in, its own parent first
};

// The size of `path` (see itemSize). With `where`, also where it is.
Measured measure(const std::string& path, const TrustedRoots& roots, bool where) {
    Measured out;
    // Reached by the same rules as the deletion uses, so what is counted is what a clean frees.
    const OpenedParent parent = openParent(path, roots);
    if (parent.reach != Reach::Reached) return out;
    struct stat st;
    const int parentFd = parent.fd.get();
    const char* leaf = parent.leaf.c_str();
    if (::fstatat(parentFd, leaf, &st, 0) != 0) return out;  // missing, or a link to nothing
    if (::fstatat(parentFd, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) return out;
    // A link is removed as itself, which frees nothing worth counting; its target stays. What is
    // mounted there is not removed either.
    if (S_ISLNK(st.st_mode) || isMountPoint(parentFd, leaf)) return out;
    out.item.emplace(st.st_dev, st.st_ino);
    if (where) out.above = folderChain(parentFd);
    if (S_ISDIR(st.st_mode)) {
        out.bytes = folderBytes(parentFd, leaf);
    } else if (st.st_size > 0) {
        out.bytes = static_cast<std::int64_t>(st.st_size);
    }
    return out;
}

}  // namespace

std::int64_t directorySize(const std::string& folder) {
    const OpenedParent parent = openParent(folder, currentTrustedRoots());
    return parent.reach == Reach::Reached ? folderBytes(parent.fd.get(), parent.leaf.c_str()) : 0;
}

std::int64_t itemSize(const std::string& path) {
    return measure(path, currentTrustedRoots(), false).bytes;
}

std::int64_t pathsSize(const std::vector<std::string>& paths) {
    const TrustedRoots roots = currentTrustedRoots();
    std::vector<Measured> items;
    for (const std::string& path : paths) items.push_back(measure(path, roots, true));
    // An item reached a second time, or lying inside another item of the list (Chromium's
    // "*/GPUCache" also names GPUPersistentCache/GPUCache; a link may lead into another), goes
    // with the first or the enclosing one.
    std::int64_t total = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Measured& item = items[i];
        if (!item.item) continue;
        const bool counted = std::any_of(items.begin(), items.end(), [&](const Measured& other) {
            return other.item && ((&other < &item && *other.item == *item.item) ||
                                  std::find(item.above.begin(), item.above.end(), *other.item) !=
                                      item.above.end());
        });
        if (!counted) total += item.bytes;
    }
    return total;
}

std::int64_t freeDiskSpace() {
    struct statvfs vfs;
    if (::statvfs(homeDirectory().c_str(), &vfs) != 0) return 0;
    const unsigned long long unit = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
    const unsigned long long blocks = vfs.f_bavail;
    constexpr auto kMax = static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max());
    if (unit != 0 && blocks > kMax / unit) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(blocks * unit);
}

std::string formatBytes(std::int64_t bytes) {
    const auto value = static_cast<double>(bytes);
    if (bytes >= 1'000'000'000) return fixed(value / 1'000'000'000.0, 2) + " GB";
    if (bytes >= 1'000'000) return fixed(value / 1'000'000.0, 0) + " MB";
    if (bytes >= 1'000) return fixed(value / 1'000.0, 0) + " KB";
    return std::to_string(bytes) + " B";
}

}  // namespace sweepkin
