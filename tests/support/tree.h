#pragma once
// File-tree fixtures shared by the engine, command-line and hardening tests: a scratch folder
// that always goes away, a scoped HOME, tree builders, a fingerprint of a tree that must not
// change, and a forked child for work that may hang, needs other limits or another user.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/unique_fd.h"

namespace sweepkin::hardening {

// A descriptor that closes itself.
using Fd = UniqueFd;

// A fresh folder under $TMPDIR (or /tmp), removed with everything below it on destruction,
// whatever the modes, depths and lengths inside.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  private:
    std::string path_;
};

// Sets HOME for the life of the object.
class ScopedHome {
  public:
    explicit ScopedHome(const std::string& home);
    ~ScopedHome();
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

  private:
    std::string previous_;
    bool hadPrevious_ = false;
};

// Creates missing folders along `path` (mode 0755).
void makeDirs(const std::string& path);
// Writes `bytes` bytes of filler into a new file (and its missing folders); returns `bytes`.
std::int64_t writeFile(const std::string& path, std::int64_t bytes);
// The same, relative to a folder descriptor.
std::int64_t writeFileAt(int dirFd, const std::string& name, std::int64_t bytes);
void writeText(const std::string& path, const std::string& text);  // missing folders made
std::string readText(const std::string& path);
std::vector<std::string> splitLines(const std::string& text);
bool exists(const std::string& path);  // lstat: a dangling link exists

// A chain of `depth` nested folders "d" below `root`, each holding a 1-byte file "f", built
// through descriptors (the full path is far longer than PATH_MAX); returns the bytes written.
std::int64_t makeDeepChain(const std::string& root, int depth);

// Removes a tree whatever its modes, depth and path lengths.
void removeTree(const std::string& path);
// Changes the owner of every entry of a tree (links themselves, not their targets).
void chownTree(const std::string& path, uid_t uid, gid_t gid);

// Everything that identifies a tree's content: per relative path, the kind, mode, size, a hash of
// the content or link target, and the modification time. Walks through descriptors, never
// follows links, never opens fifos, sockets or devices.
using Fingerprint = std::map<std::string, std::string>;
Fingerprint fingerprint(const std::string& root);

// The account tests use as "an ordinary user" when they run as root.
inline constexpr uid_t kNobodyUid = 65534;
inline constexpr gid_t kNobodyGid = 65534;
// Becomes that user for good (root only); false when any step fails.
bool dropPrivileges();
// Gives the tree to that user when running as root, so that a child that drops privileges
// meets its own files; no-op otherwise.
void giveToNobody(const std::string& root);

struct ChildOutcome {
    bool exitedNormally = false;  // false: killed, e.g. by the timeout
    int signal = 0;
    std::string output;  // what the body returned
};

// Runs `body` in a forked child killed after `timeoutSeconds`; the child's return value comes
// back through a pipe. Use for work that may block forever or needs its own limits or user.
ChildOutcome runInChild(const std::function<std::string()>& body, unsigned timeoutSeconds = 60);

}  // namespace sweepkin::hardening
