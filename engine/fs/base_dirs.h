#pragma once
// Where a Linux desktop keeps caches, configuration, state and data: the XDG base directories.
// Each variable is read from the environment once and validated, so that no value can make the
// guard admit the home folder, anything above it, or another XDG folder's contents.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/platform.h"

namespace sweepkin {

// The variables as the environment held them at start-up (absent when unset).
struct BaseDirVariables {
    std::optional<std::string> cacheHome = {};   // XDG_CACHE_HOME
    std::optional<std::string> configHome = {};  // XDG_CONFIG_HOME
    std::optional<std::string> stateHome = {};   // XDG_STATE_HOME
    std::optional<std::string> dataHome = {};    // XDG_DATA_HOME
    // Chromium's browsers put their profiles here when it is set.
    std::optional<std::string> chromeConfigHome = {};  // CHROME_CONFIG_HOME
    // The developer tools' own variables that the catalogue names (GOCACHE, CARGO_HOME, ...), by
    // name, when set (or one of the names the tool also reads).
    std::map<std::string, std::string> tools = {};
    // Other folders the desktop names: XDG_RUNTIME_DIR and each of XDG_DATA_DIRS, XDG_CONFIG_DIRS.
    std::vector<std::string> shared = {};
};

// Why even the default cache home is not used.
enum class LeftOut {
    No,
    Overlap,         // it shares folders with the settings, state or data
    OthersOwn,       // it, or a folder or link on its way, is another user's
    OthersMayWrite,  // others may change it or a folder on its way, or could have made a link
    Unfollowed,      // a link on its way is not followed (a loop, say)
};

struct BaseDirs {
    // Default ~/.cache; empty when even the default cannot be used, in which case nothing under
    // it is cleaned or admitted by the guard.
    std::string cacheHome;
    std::string configHome;  // default ~/.config
    std::string stateHome;   // default ~/.local/state
    std::string dataHome;    // default ~/.local/share
    // The config and data homes are the user's alone: their caches may be cleaned. (Sweepkin's
    // own files go to configHome either way.)
    bool configTrusted = true;
    bool dataTrusted = true;
    LeftOut cacheLeftOut = LeftOut::No;
    std::string leftOutAt = {};  // the folder that decided it
    // Each tool's folder: its variable's value where that passes the same checks as the XDG
    // folders and, with its items, the safety guard, else its default where that and its items
    // pass the guard; empty when there is none.
    std::map<std::string, std::string> tools = {};
    // Folders in use that no item may be or hold: the state home, the config and data homes
    // (trusted or not), and the folders the applications take from the variables as they stand,
    // a value refused here included; the sandboxes' folders and the desktop's other folders.
    std::vector<std::string> inUse = {};
    // Each tool variable that is set, as the tool takes it, for a row that keeps more than caches
    // there: the folders of every row but its own.
    std::map<std::string, std::vector<std::string>> toolsInUse = {};
};

// `value` with repeated and trailing slashes dropped when its text is usable, else home +
// fallback. Unusable: absent, empty, relative, "/", the home folder, an ancestor of it, or a
// value with a "." or ".." component.
std::string validatedBaseDir(const std::optional<std::string>& value, std::string_view home,
                             std::string_view fallback);

// Every folder by its text rules, then by what the folders are on disk (device and inode of the
// folder and its ancestors, so that a link cannot disguise a value): a value that is or contains
// the home folder, lies in a Flatpak or snap application's folder, is reached through a folder or
// link the user does not alone control, or exists but belongs to another user, gives way to its
// default, which must pass the same checks; the cache home must moreover not be, lie inside or
// contain any of the other three.
BaseDirs resolveBaseDirs(std::string_view home, const BaseDirVariables& variables);

// The variables read on the first call; the same values ever after.
const BaseDirVariables& startupBaseDirVariables();

// The start-up variables resolved against the current home directory, or against `home`;
// resolved once per home folder and remembered.
BaseDirs currentBaseDirs();
BaseDirs currentBaseDirs(std::string_view home);

// The textual guard (isSafeCachePath in safety_guard.h) against the home directory, read afresh,
// and its current cache home.
bool isSafeCachePath(std::string_view path);

}  // namespace sweepkin
