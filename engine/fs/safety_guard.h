#pragma once
// The textual guard every removed path passes.

#include <string>
#include <string_view>

namespace sweepkin {

// True when the text of `path` names a cache location that may be removed, against the home
// folder `home` and the XDG cache home `cacheHome` (empty: none): the caches folder under the home
// or anything inside it, anything strictly inside one of the Linux caches folders (the XDG cache
// home, ~/.var/app/<id>/cache, ~/snap/<name>/common/.cache), or a path whose last component
// contains "cache" in any letter case. A "." or ".." component never counts as inside. Pure text:
// never touches the disk nor the environment.
bool isSafeCachePath(std::string_view path, std::string_view home, std::string_view cacheHome);

// The name rule alone: `name` contains "cache" in any letter case.
bool nameSaysCache(std::string_view name);

}  // namespace sweepkin
