#pragma once
// The way to a folder: from "/" (or a folder already reached) one component at a time by
// descriptor (O_PATH, so search permission is enough, as for `rm -rf`), taking a link only when
// the rule of its position says so, and no folder another user owns or others may change.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/fs/ownership.h"
#include "engine/fs/unique_fd.h"

namespace sweepkin {

// A folder's device and inode.
using FolderID = std::pair<dev_t, ino_t>;

// The identities of the open folder `fd` and of each real ancestor (through ".."), up to "/".
std::vector<FolderID> folderChain(int fd);

enum class Reach {
    Reached,
    Absent,   // missing on the way, or not a folder
    Refused,  // behind a link or folder that is not trusted
    Failed,   // there but out of reach: permissions, I/O errors
};

// Why something on the way was refused: the rule that refused it.
enum class Refusal {
    NotFollowed,     // a link its position does not follow (or a loop, or a name never taken)
    MountPoint,      // something mounted where its position enters no mount point
    LandsOnBase,     // a link that lands on the home, above it, or on a base folder
    OthersOwn,       // another user's folder or link (or root's, where only the user's will do)
    OthersMayWrite,  // a folder others may change, or a link anyone could have made
};

struct Opened {
    Reach reach = Reach::Absent;
    UniqueFd fd;  // an O_PATH descriptor of the folder
    Refusal why = Refusal::NotFollowed;
    std::string where;  // the folder or link refused, as text
    int error = 0;      // what failed, when it failed
};

// What the way to a folder takes into account: the home (a root-owned link below it is not the
// user's), the sandboxes (~/.var/app and ~/snap, where applications make links) and who the user
// is.
struct WayRules {
    std::optional<FolderID> home;
    std::vector<FolderID> sandboxes;
    UserIds ids = startupUserIds();
};
WayRules wayRulesFor(std::string_view home);

// An absolute folder, opened from "/" taking only the user's links.
Opened openWay(std::string_view path, const WayRules& rules);

// How a link met at one position is treated.
enum class Follow : std::uint8_t {
    Never,      // not followed: what lies behind it is refused
    UsersLink,  // followed when only the user can have made it (see openWay)
    Revision,   // a snap's "current": followed to a plain name beside it
    Any,        // macOS folders outside the caches folder: the path as the system resolves it
};

// Enters `name` in the trusted folder `dirFd` (text `dirText`) by the rule `follow`, and a mount
// point there only with `entersMounts`; a name that is "." or "..", or holds a "/", is refused.
Opened enter(int dirFd, const std::string& dirText, const std::string& name, Follow follow,
             bool entersMounts, const WayRules& rules);

// `at`, when reached, if it is the user's own folder; else refused as another user's.
Opened usersOwn(Opened at, const std::string& text, const UserIds& ids);

// `name` in `dirFd` leads elsewhere: a link, or a mount point.
bool leadsElsewhere(int dirFd, const std::string& name);

// `folder` + "/" + `name`, with "/" for the root folder taken once.
std::string below(const std::string& folder, std::string_view name);

}  // namespace sweepkin
