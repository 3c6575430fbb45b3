#pragma once
// The textual guard every removed path passes.

#include <string>
#include <string_view>

namespace sweepkin {

// True when the text of `path` names a cache location that may be removed: the caches folder
// under the home directory or anything inside it, anything strictly inside one of the Linux
// caches folders (the XDG cache home, ~/.var/app/<id>/cache, ~/snap/<name>/common/.cache), or a
// path whose last component contains "cache" in any letter case. A "." or ".." component never
// counts as inside. Reads the home directory afresh; never touches the disk.
bool isSafeCachePath(std::string_view path);

// The name rule alone: `name` contains "cache" in any letter case.
bool nameSaysCache(std::string_view name);

// The same against a given home folder and XDG cache home (empty: none).
bool isSafeCachePath(std::string_view path, std::string_view home, std::string_view cacheHome);

}  // namespace sweepkin
