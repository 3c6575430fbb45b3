#pragma once
// The user's home folder and the tilde rule for paths.

#include <string>
#include <string_view>
#include <vector>

namespace sweepkin {

// $HOME when it is an absolute path, else the passwd entry of the current user, else "/";
// normalized. Read afresh on every call.
std::string homeDirectory();

// The passwd entry's home folder of the current user, normalized; empty when there is none.
std::string accountHome();

// The non-empty components of `path`, in order ("/a//b/" gives "a", "b").
std::vector<std::string_view> pathComponents(std::string_view path);

// An absolute path with single slashes, no "." component and no trailing slash ("/" stays "/").
// ".." is kept: only the file system knows where it leads.
std::string normalizedPath(std::string_view path);

// `home` without trailing slashes, and "" for the root folder, so that home + "/x" is never "//x".
std::string homePrefix(std::string_view home);

// A leading "~" (alone or followed by "/") becomes the home directory; any other text is unchanged.
std::string expandTilde(std::string_view path);

// The home directory itself prints as "~", paths below it as "~/..."; anything else is unchanged.
std::string abbreviateTilde(std::string_view path);

// True when some component of `path` is "." or "..", which could lead out of a folder that the
// path's text seems to stay inside ("~/Library/Caches/../../Documents").
bool hasDotComponent(std::string_view path);

}  // namespace sweepkin
