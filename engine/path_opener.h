#pragma once
// The one way a catalogue path is reached, for measuring and for deleting alike: from a folder
// only the user controls, down one component at a time by descriptor, following exactly the links
// that only the user can have made. Whoever could have made a link decides whether it is followed:
// - followed: the home folder's own path, the XDG cache and config homes themselves, ~/.var,
//   ~/.var/app, ~/snap, a snap's "current" link to a plain revision name beside it, and an
//   application's top folder right under the cache or config home (when it is not the item);
//   a link met on the way there is taken only when it belongs to the user or to root and does
//   not lie in an application's sandbox (below ~/.var/app or ~/snap), and no folder on that way
//   may be another user's or one where others may rename entries (unless sticky);
// - never: anything else at or below ~/.var/app/<id> or ~/snap/<name>, below an application's
//   top folder, on the way to ~/Library on Linux, anywhere outside these folders, and the last
//   component of a path, which is taken as itself.
// Folders on the way are opened with O_PATH, so search permission is enough, as for `rm -rf`.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/unique_fd.h"

namespace sweepkin {

// A folder's device and inode.
using FolderID = std::pair<dev_t, ino_t>;

// The identities of the open folder `fd` and of each real ancestor (through ".."), up to "/".
std::vector<FolderID> folderChain(int fd);

// Where sandboxed applications write (~/.var/app and ~/snap), by device and inode: a link in a
// folder below either is theirs to make.
struct Sandboxes {
    std::vector<FolderID> roots;
};
Sandboxes sandboxesOf(std::string_view home);

// The folders the catalogue's paths start from.
struct TrustedRoots {
    std::string home;
    std::string cacheHome;  // empty when there is none
    std::string configHome;
    Sandboxes sandboxes;
};

// The current home folder and its validated XDG folders.
TrustedRoots currentTrustedRoots();

enum class Reach {
    Reached,
    Absent,   // missing on the way, or not a folder
    Refused,  // behind a link that is not followed
    Failed,   // there but out of reach: permissions, I/O errors
};

struct Opened {
    Reach reach = Reach::Absent;
    UniqueFd fd;  // an O_PATH descriptor of the folder
};

// An absolute path the user chose (a base folder), opened as a folder from "/" with the links on
// its way taken as described above.
Opened openUsersFolder(std::string_view path, const Sandboxes& sandboxes);

// The folder that holds `path` (fd) and the path's last component (leaf); a "." or ".." leaf,
// an empty one, or one on the way, counts as absent.
struct OpenedParent : Opened {
    std::string leaf;
};
OpenedParent openParent(std::string_view path, const TrustedRoots& roots);

// Something is at `path`, reached by these rules (a final link counts when what it names is
// there).
bool existsByRules(std::string_view path, const TrustedRoots& roots);

// `path` itself, as a folder on the way down to something below it (to be listed).
Opened openFolderOnTheWay(std::string_view path, const TrustedRoots& roots);

// How many leading components of `path` are a trusted root's own text: those are literal, even
// when the home folder's or an XDG folder's name holds a "*".
std::size_t rootComponents(std::string_view path, const TrustedRoots& roots);

// The item `name` in `parentFd` is not on its parent's mount: another file system, or a bind
// mount, mounted there. Neither measured nor removed.
bool isMountPoint(int parentFd, const char* name);

}  // namespace sweepkin
