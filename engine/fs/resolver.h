#pragma once
// The one way a catalogue location's items are reached, for counting and for deleting alike: from
// a folder only the user controls, down one component at a time by descriptor (O_PATH, so
// search permission is enough, as for `rm -rf`). Which links and mount points each position
// lets through, and what taking one entails, is the link policy (link_policy.h); the resolver
// executes it and never follows the item itself, which is taken as it is (a link is a link).

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
#include "engine/fs/item_kind.h"
#include "engine/fs/ownership.h"
#include "engine/fs/tree_walk.h"
#include "engine/fs/unique_fd.h"
#include "engine/fs/way.h"

namespace sweepkin {

// The texts of the roots: the home and the validated XDG folders (empty: left out). Where they
// are now is currentPlaces (places.h).
struct Places {
    std::string home = {}, cacheHome = {}, configHome = {}, dataHome = {};
    std::map<std::string, std::string> tools = {};  // a tool's variable to its cache folder
    std::vector<std::string> inUse = {};  // other folders in use that no item may be or hold
    // A tool variable's folders as the tool takes them: no item but its own row's may be or hold one.
    std::map<std::string, std::vector<std::string>> toolsInUse = {};
};

// Something that was not removed completely, or could not be reached to be, and why.
struct Stayed {
    std::string path;
    Failure why = Failure::Other;
};

// The texts the guard judges an item's path against: the home and the cache home the resolver
// was given.
struct GuardTexts {
    std::string home, cacheHome;
};

// How the folder that holds an item is reached again: from a root the resolver keeps open, down
// the same names by the same rules, each folder on the way the one (device and inode) that was
// found. Items keep no descriptor of their own, so a "*" with thousands of matches holds none.
struct Way {
    struct Step {
        std::string name;
        std::uint8_t rules;  // the link policy's PassRules at this position
        FolderID id;
    };
    std::shared_ptr<const UniqueFd> root;
    std::string rootText;
    std::vector<Step> steps;
    std::shared_ptr<const WayRules> rules;
    std::shared_ptr<const GuardTexts> guard;
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
    // Its text passes isSafeCachePath against the resolver's home and cache home.
    bool passesGuard() const;
};

// What the locations reach on disk: every folder their items are reached through, each with its
// real ancestors, the application's own folders the items lie in, and the items themselves, by
// device and inode.
struct Reached {
    std::vector<FolderID> ways;
    std::vector<FolderID> owns;
    std::vector<FolderID> items;
};

// A folder or link on the way that was not taken, and the rule that refused it.
struct Refused {
    std::string path;
    Refusal why;
};

// Reaches the items of locations. The roots are opened once, on first use, and kept: make one
// per scan, self-test or clean.
class Resolver {
  public:
    explicit Resolver(Places places);
    ~Resolver();
    Resolver(const Resolver&) = delete;
    Resolver& operator=(const Resolver&) = delete;

    // Every item the locations name that exists now and is admitted, each text once, in
    // first-seen order. One verdict per item: its text passes the guard and, behind a link or
    // mount point where the policy says so, its name says "cache". With `stayed`, what is not
    // given is noted there: a folder on the way that is there but cannot be entered (no search
    // permission, say), with why; an item refused, as "not a cache".
    std::vector<Item> items(const std::vector<Location>& locations,
                            std::vector<Stayed>* stayed = nullptr);

    // The same items as reached, without the verdict: where an application's or a tool's folders
    // are (the application's own folder is no cache), never what to measure or remove.
    std::vector<Item> reachedItems(const std::vector<Location>& locations);

    Reached reached(const std::vector<Location>& locations);

    // What was refused on the ways to the items reached so far, each once, in first-seen order.
    const std::vector<Refused>& refusals() const { return refusals_; }

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
                std::vector<Stayed>* unreachable, std::vector<Stayed>* refused, Reached* reached,
                bool judged = true);
    void descend(const Expansion& expansion, std::size_t at, int fd, const std::string& text,
                 bool elsewhere, std::vector<Way::Step>& steps);
    void noteRefusal(const std::string& path, Refusal why);
    // The folder `fd` is the home, one of its ancestors, or one of the folders roots hang from.
    bool isRootFolder(int fd);
    // The folder `id` is the home, the cache, config or data home, or one of their ancestors.
    // Or a folder in use, of a tool's other than `tool`'s.
    bool holdsRootFolder(const FolderID& id, std::string_view tool);

    Places places_;
    std::shared_ptr<const WayRules> rules_;
    std::shared_ptr<const GuardTexts> guard_;
    std::optional<Opened> home_;
    std::optional<std::vector<FolderID>> rootFolders_;
    std::optional<std::vector<std::pair<FolderID, std::string>>> rootChains_;  // tool: "" for all
    std::map<std::pair<int, std::string>, std::unique_ptr<Root>> roots_;
    std::vector<Refused> refusals_;
};

}  // namespace sweepkin
