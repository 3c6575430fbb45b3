#pragma once
// The textual guard every removed path passes.

#include <optional>
#include <string>
#include <string_view>

namespace sweepkin {

// True when the text of `path` names a cache location that may be removed: the caches folder
// under the home directory or anything inside it, anything strictly inside one of the Linux
// caches folders (the XDG cache home, ~/.var/app/<id>/cache, ~/snap/<name>/common/.cache), or a
// path whose last component contains "cache" in any letter case. A "." or ".." component never
// counts as inside. Reads the home directory afresh; never touches the disk.
bool isSafeCachePath(std::string_view path);

// The same against a given home folder and XDG cache home.
bool isSafeCachePath(std::string_view path, std::string_view home, std::string_view cacheHome);

// The caches folder whose inside `path` is, by the guard's text rules (the path may also be
// ~/Library/Caches itself, or that folder followed by "/"); nullopt when there is none.
std::optional<std::string> enclosingCachesFolder(std::string_view path, std::string_view home,
                                                 std::string_view cacheHome);

}  // namespace sweepkin
