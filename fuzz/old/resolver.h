#pragma once
// The one way a catalogue location's items are reached, for counting and for deleting alike: from
// a folder only the user controls, down one component at a time by descriptor (O_PATH, so
// search permission is enough, as for `rm -rf`), following exactly the links that only the user
// can have made. Which links those are is a property of the kind of root, written once, in the
// table at the top of resolver.cpp:
// - the way to a root (the home, the XDG folders, ~/.var/app, ~/snap) takes a link only when the
//   user made it: the user's own (or root's, outside the home), its only name (link count 1), in
//   a folder where nobody else may add entries, and not in or below ~/.var/app or ~/snap; no
//   folder on the way may be another user's or one where others may rename entries;
// - below a root: a snap's "current" link to a revision name beside it, and the application's
//   own folder right under the cache or config home (when it is not the item; behind it, only
//   items named for a cache);
// - nothing else: not at or below ~/.var/app/<id> or ~/snap/<name>, not below an application's
//   own folder, not on the way to ~/Library on Linux, and never the item itself, which is taken
//   as it is (a link is a link); where no link is followed, no mount point is entered.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/catalogue/app_target.h"
#include "engine/fs/ownership.h"
#include "engine/fs/tree_walk.h"
#include "engine/fs/unique_fd.h"
#include "fuzz/old/way.h"

namespace sweepkin::old {

// The texts of the roots: the home and the validated XDG folders (empty: left out).
struct Places {
    std::string home = {}, cacheHome = {}, configHome = {}, dataHome = {};
    std::map<std::string, std::string> tools = {};  // a tool's variable to its cache folder
};
Places currentPlaces();

// Something that was not removed completely, or could not be reached to be, and why.
struct Stayed {
    std::string path;
    Failure why = Failure::Other;
};

// How the folder that holds an item is reached again: from a root the resolver keeps open, down
// the same names by the same rules, each folder on the way the one (device and inode) that was
// found. Items keep no descriptor of their own, so a "*" with thousands of matches holds none.
struct Way {
    struct Step {
        std::string name;
        std::uint8_t follow;  // the resolver's rule for links at this position
        FolderID id;
    };
    std::shared_ptr<const UniqueFd> root;
    std::string rootText;
    std::vector<Step> steps;
    std::shared_ptr<const WayRules> rules;
};

// One entry a location names, found by the resolver: how to reach what holds it, its name, its
// text.
struct Item {
    std::shared_ptr<const Way> way;
    std::string name;
    std::string path;  // for the guard, for duplicates and for messages

    // An O_PATH descriptor of the folder that holds it, reached again now; none when the way
    // is gone (errno ENOENT), cannot be entered, is refused, or leads to another folder than the
    // one found (ESTALE).
    UniqueFd openParent() const;
    const UserIds& ids() const { return way->rules->ids; }
};

enum class ItemKind {
    Missing,  // nothing there, or a link to nothing
    Link,     // removed as itself, frees nothing
    Mount,    // something is mounted there: neither counted nor removed
    Others,   // another user's, or a folder others may change: neither counted nor removed
    File,
    Folder,
};

struct Classified {
    ItemKind kind = ItemKind::Missing;
    struct stat st {};  // its own status (not a link's target)
};

// What sits at `name` in `parentFd`.
Classified classify(int parentFd, const std::string& name, const UserIds& ids);

// What the locations reach on disk: every folder their items are reached through, each with its
// real ancestors, and the items themselves, by device and inode.
struct Reached {
    std::vector<FolderID> ways;
    std::vector<FolderID> items;
};

// Reaches the items of locations. The roots are opened once, on first use, and kept: make one
// per scan, self-test or clean.
class Resolver {
  public:
    Resolver();  // the current places
    explicit Resolver(Places places);
    ~Resolver();
    Resolver(const Resolver&) = delete;
    Resolver& operator=(const Resolver&) = delete;

    // Every item the locations name that exists now, each text once, in first-seen order. A
    // folder on the way that is there but cannot be entered (no search permission, say) hides
    // what is behind it; with `unreachable`, it is noted there.
    std::vector<Item> items(const std::vector<Location>& locations,
                            std::vector<Stayed>* unreachable = nullptr);

    Reached reached(const std::vector<Location>& locations);

    // The home as reached: why it was refused, when it was.
    const Opened& home();

    // What the location names, as text with its "*" components; nothing when its root is left
    // out. Nothing is looked at on disk.
    std::vector<std::string> patterns(const Location& location) const;

  private:
    struct Root;
    // The root's base folder, and for a tool's folder its own name (the first component below).
    std::pair<std::string, std::string> baseOf(const Location& location) const;
    const Root* root(const Location& location);
    struct Expansion;
    void expand(const Location& location, std::string_view item, std::vector<Item>& out,
                std::vector<Stayed>* unreachable, Reached* reached);
    void descend(const Expansion& expansion, std::size_t at, int fd, const std::string& text,
                 bool elsewhere, std::vector<Way::Step>& steps);
    // The folder `fd` is the home, one of its ancestors, or one of the folders roots hang from.
    bool isRootFolder(int fd);

    Places places_;
    std::shared_ptr<const WayRules> rules_;
    std::optional<Opened> home_;
    std::optional<std::vector<FolderID>> rootFolders_;
    std::map<std::pair<int, std::string>, std::unique_ptr<Root>> roots_;
};

// ~/.var/app is a mount holding nothing but Sweepkin's own folder: a Flatpak sandbox, which
// hides the other applications' folders.
bool flatpakFoldersHidden(std::string_view home);

}  // namespace sweepkin::old
