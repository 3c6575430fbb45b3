#include "engine/sizes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <set>
#include <utility>
#include <limits>

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

// The size of `path` (see itemSize), and what it is on disk when it counts at all.
std::int64_t measure(const std::string& path, const TrustedRoots& roots,
                     std::optional<std::pair<dev_t, ino_t>>& identity) {
    // Reached by the same rules as the deletion uses, so what is counted is what a clean frees.
    const OpenedParent parent = openParent(path, roots);
    if (parent.reach != Reach::Reached) return 0;
    struct stat st;
    const char* leaf = parent.leaf.c_str();
    if (::fstatat(parent.fd.get(), leaf, &st, 0) != 0) return 0;  // missing, or a link to nothing
    if (::fstatat(parent.fd.get(), leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
    // A link is removed as itself, which frees nothing worth counting; its target stays. Another
    // file system mounted there is not removed either.
    if (S_ISLNK(st.st_mode)) return 0;
    identity.emplace(st.st_dev, st.st_ino);
    if (S_ISDIR(st.st_mode)) {
        return isMountPoint(parent.fd.get(), leaf) ? 0 : folderBytes(parent.fd.get(), leaf);
    }
    return st.st_size > 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

}  // namespace

std::int64_t directorySize(const std::string& folder) {
    const OpenedParent parent = openParent(folder, currentTrustedRoots());
    return parent.reach == Reach::Reached ? folderBytes(parent.fd.get(), parent.leaf.c_str()) : 0;
}

std::int64_t itemSize(const std::string& path) {
    std::optional<std::pair<dev_t, ino_t>> identity;
    return measure(path, currentTrustedRoots(), identity);
}

std::int64_t pathsSize(const std::vector<std::string>& paths) {
    const TrustedRoots roots = currentTrustedRoots();
    std::vector<std::string> texts;
    for (const std::string& path : paths) texts.push_back(normalizedPath(path));
    // A path inside another one of the list (Chromium's "*/GPUCache" also names
    // GPUPersistentCache/GPUCache) goes with it.
    const auto nested = [&](const std::string& text) {
        return std::any_of(texts.begin(), texts.end(), [&](const std::string& other) {
            return text.size() > other.size() && text.starts_with(other) &&
                   (other == "/" || text[other.size()] == '/');
        });
    };
    std::set<std::pair<dev_t, ino_t>> seen;
    std::int64_t total = 0;
    for (const std::string& path : paths) {
        if (nested(normalizedPath(path))) continue;
        std::optional<std::pair<dev_t, ino_t>> identity;
        const std::int64_t size = measure(path, roots, identity);
        if (identity && seen.insert(*identity).second) total += size;
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
