#include "engine/fs/sizes.h"

#include <fcntl.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>

#include "engine/fs/home.h"
#include "engine/fs/tree_walk.h"
#include "engine/fs/unique_fd.h"

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

std::int64_t folderBytes(int parentFd, const std::string& name, LinkTally& links) {
    UniqueFd fd(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return fd ? walkTree(fd.get(), WalkMode::Measure, 2, nullptr, &links).bytes : 0;
}

std::int64_t sizeOf(const Item& item, int parentFd, const Classified& what, LinkTally& links) {
    switch (what.kind) {
        case ItemKind::Folder:
            return folderBytes(parentFd, item.name, links);
        case ItemKind::File:
            return links.meet(what.st);
        default:
            return 0;
    }
}

}  // namespace

std::int64_t itemSize(const Item& item) {
    const UniqueFd parent = item.openParent();
    LinkTally links;
    return parent ? sizeOf(item, parent.get(), classify(parent.get(), item.name, item.ids()), links)
                  : 0;
}

std::int64_t directorySize(const Item& item) {
    const UniqueFd parent = item.openParent();
    const Classified what = parent ? classify(parent.get(), item.name, item.ids()) : Classified{};
    LinkTally links;
    return what.kind == ItemKind::Folder ? sizeOf(item, parent.get(), what, links) : 0;
}

std::int64_t pathsSize(const std::vector<Item>& items) {
    struct Found {
        std::optional<FolderID> id;   // absent when it counts nothing
        std::vector<FolderID> above;  // the folders it lies in, its own parent first
    };
    // Where each item is first, one item's folder open at a time however many there are; only
    // then what they hold: the names of a file with several names all count in one tally.
    std::vector<Found> found;
    for (const Item& item : items) {
        const UniqueFd parent = item.openParent();
        const Classified what =
            parent ? classify(parent.get(), item.name, item.ids()) : Classified{};
        Found f;
        if (what.kind == ItemKind::Folder || what.kind == ItemKind::File) {
            f.id.emplace(what.st.st_dev, what.st.st_ino);
            f.above = folderChain(parent.get());
        }
        found.push_back(std::move(f));
    }
    // An item reached a second time, or lying inside another item of the list (Chromium's
    // "*/GPUCache" also names GPUPersistentCache/GPUCache; a link may lead into another), goes
    // with the first or the enclosing one, as the clean removes it.
    LinkTally links;
    std::int64_t total = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Found& item = found[i];
        if (!item.id) continue;
        const bool counted = std::any_of(found.begin(), found.end(), [&](const Found& other) {
            return other.id &&
                   ((&other < &item && *other.id == *item.id) ||
                    std::find(item.above.begin(), item.above.end(), *other.id) != item.above.end());
        });
        if (counted) continue;
        const UniqueFd parent = items[i].openParent();
        const Classified what =
            parent ? classify(parent.get(), items[i].name, items[i].ids()) : Classified{};
        // Still the entry that was placed; anything swapped in since is not measured.
        if (what.kind != ItemKind::Missing &&
            FolderID(what.st.st_dev, what.st.st_ino) == *item.id) {
            total = addBytes(total, sizeOf(items[i], parent.get(), what, links));
        }
    }
    return total;
}

DiskSpace homeDiskSpace() {
    struct statvfs vfs;
    if (::statvfs(homeDirectory().c_str(), &vfs) != 0) return {};
    const unsigned long long unit = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
    const auto bytes = [unit](unsigned long long blocks) {
        constexpr auto kMax =
            static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max());
        if (unit != 0 && blocks > kMax / unit) return std::numeric_limits<std::int64_t>::max();
        return static_cast<std::int64_t>(blocks * unit);
    };
    return {bytes(vfs.f_bavail), bytes(vfs.f_blocks)};
}

std::string formatBytes(std::int64_t bytes) {
    const auto value = static_cast<double>(bytes);
    if (bytes >= 1'000'000'000) return fixed(value / 1'000'000'000.0, 2) + " GB";
    if (bytes >= 1'000'000) return fixed(value / 1'000'000.0, 0) + " MB";
    if (bytes >= 1'000) return fixed(value / 1'000.0, 0) + " KB";
    return std::to_string(bytes) + " B";
}

}  // namespace sweepkin
