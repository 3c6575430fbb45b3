#pragma once
// What sits at an item: the one answer measuring and deletion both take.

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/fs/ownership.h"

namespace sweepkin {

enum class ItemKind {
    Missing,  // nothing there, or a link to nothing
    Link,     // removed as itself, frees nothing
    Mount,    // something is mounted there: neither counted nor removed
    Others,   // another user's, or a folder others may change: neither counted nor removed
    File,
    Folder,
};

struct Classified {
    ItemKind kind = ItemKind::Missing;
    struct stat st {};  // its own status (not a link's target)
};

// What sits at `name` in `parentFd`.
Classified classify(int parentFd, const std::string& name, const UserIds& ids);

// The entries of the folder `fd` that `component` matches, in the order the file system lists
// them; none when it cannot be read.
std::vector<std::string> matchingEntries(int fd, std::string_view component);

}  // namespace sweepkin
