#pragma once
// File-tree fixtures for the engine tests: a scratch folder, a temporary HOME and helpers that
// build and inspect trees in a line or two.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace sweepkin::test {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  private:
    std::string path_;
};

// Points HOME at a folder for the lifetime of the object.
class ScopedHome {
  public:
    explicit ScopedHome(const std::string& home);
    ~ScopedHome();

  private:
    std::string saved_;
    bool hadHome_ = false;
};

// Creates the file (and its missing parent folders) holding `size` bytes.
void writeFile(const std::string& path, std::int64_t size);
void makeDirs(const std::string& path);
void makeLink(const std::string& target, const std::string& linkPath);
bool exists(const std::string& path);  // without following a final link

// Every entry below `root` (relative path -> kind and content), for before/after comparisons.
std::map<std::string, std::string> snapshot(const std::string& root);

// Sum of the regular-file sizes below `root`, found with std::filesystem (an independent count).
std::int64_t referenceSize(const std::string& root);

// A chain of `depth` nested folders "d" under `root`, each holding a 1-byte file "f", built
// through descriptors because the full path is far longer than PATH_MAX.
void makeDeepChain(const std::string& root, int depth);

// Hands the tree to the unprivileged user 65534 (only possible, and only needed, as root).
void giveToNobody(const std::string& root);

// Runs `body` in a forked child (as uid/gid 65534 when `dropToNobody` and running as root) and
// returns the 64-bit value it produced, or nullopt-like -1 with `ok` false when the child died.
struct ChildResult {
    bool ok = false;
    std::int64_t values[4] = {0, 0, 0, 0};
};
ChildResult runInChild(const std::function<void(std::int64_t out[4])>& body,
                       bool dropToNobody = false);

bool runningAsRoot();

}  // namespace sweepkin::test
