#pragma once
// Fixtures shared by the engine, command-line and hardening tests.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/fs/places.h"
#include "engine/fs/resolver.h"
#include "engine/fs/unique_fd.h"

namespace sweepkin::fixtures {

void removeTree(const std::string& path);  // whatever the modes, depth and path lengths

// Who must be able to reach a scratch folder: only its owner, or also the ordinary user a test
// running as root switches to (then it goes under /tmp: $TMPDIR may be closed to that user).
enum class Reach { owner, anyUser };

// A fresh folder under $TMPDIR or /tmp, removed with everything below it on destruction.
struct ScratchDir {
    explicit ScratchDir(Reach reach = Reach::owner);
    ~ScratchDir() { removeTree(path_); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
    std::string path_;
};

void makeDirs(const std::string& path);  // with every missing folder above it
// A file of `bytes` allocated bytes, missing folders made; returns `bytes`, or -1 on failure.
std::int64_t writeFile(const std::string& path, std::int64_t bytes);
void writeText(const std::string& path, const std::string& text);  // missing folders made
std::string readText(const std::string& path);
bool exists(const std::string& path);  // lstat: a dangling link exists
// Builds "a/b=N" (N bytes), "a/b/" (folder), "a/b->target" (link) below `root`; returns the bytes.
std::int64_t makeTree(const std::string& root, const std::vector<std::string>& entries);

// Locations rooted at the home folder ($HOME) naming these paths below it, and the items they
// reach: no link below the home is followed.
std::vector<Location> homeLocations(const std::vector<std::string>& relatives);
inline std::vector<Item> homeItems(const std::vector<std::string>& relatives) {
    return Resolver(currentPlaces()).items(homeLocations(relatives));
}

// Per relative path: kind, mode, size, modification time (of folders only with `folderTimes`),
// link target and content checksum; never following links or opening fifos, sockets, devices.
using Fingerprint = std::map<std::string, std::string>;
Fingerprint fingerprint(const std::string& root, bool folderTimes = true);
// Takes `path` and everything below it out of `print`.
inline void forget(Fingerprint& print, const std::string& path) {
    std::erase_if(
        print, [&](const auto& e) { return e.first == path || e.first.starts_with(path + "/"); });
}

// The other account: the one a test running as root becomes, or gives entries to so that they
// are another user's. Nobody, which is also the kernel's overflow id.
inline constexpr uid_t kOtherUid = 65534;
inline constexpr gid_t kOtherGid = 65534;
// Root becomes that account (or `user`) for good; false when a step fails.
bool dropPrivileges(uid_t user = kOtherUid, gid_t group = kOtherGid);
// Gives `path` itself (a link as the link) to the other account; false when that fails, as it
// does for anyone but root. giveTreeToAnother gives everything below `root` too, when root.
bool chownToAnother(const std::string& path);
void giveTreeToAnother(const std::string& root, uid_t user = kOtherUid, gid_t group = kOtherGid);

// Where a home's own folders lie when no XDG variable moves them: ~/.cache, ~/.config and
// ~/.local/share below `home`.
Places homePlaces(const std::string& home);

// Runs `body` in a forked child killed after `timeoutSeconds`: what it returned, or its end.
std::string runInChild(const std::function<std::string()>& body, unsigned timeoutSeconds = 60);

struct RunResult {
    int status = -1;  // the exit status, or 128 + the signal that ended the program
    std::string out;  // standard output
};
// Runs `argv` with exactly the variables `env` ("NAME=value"), killed after a minute;
// `readerGoesAway` closes its output at once. No argument may hold a '.
RunResult runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     bool readerGoesAway = false);

}  // namespace sweepkin::fixtures
