#include "fuzz/old/resolver.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <tuple>
#include <unordered_set>

#include "engine/catalogue/catalogue.h"
#include "engine/catalogue/pattern.h"
#include "engine/fs/base_dirs.h"
#include "engine/fs/home.h"
#include "engine/fs/ownership.h"
#include "engine/fs/safety_guard.h"
#include "engine/platform.h"

namespace sweepkin::old {

namespace {

// The folders the roots hang from, each reached by the way.
enum class Base : std::uint8_t { Home, Cache, Config, Data, VarApp, Snap, Tool };

// Which links each kind of root follows: on the way from its base folder (whose own way takes
// the user's links), at the application's own folder (its first component, when that is not the
// item itself) and below it. The item itself is never followed. "{app}" is the location's
// Flatpak app id or snap name.
struct RootRule {
    RootKind kind;
    Base base;
    std::array<std::string_view, 2> tail;
    std::array<Follow, 2> tailFollows;
    Follow ownFolder;
    Follow below;
};

using enum Follow;
constexpr Follow kLibraryWay = kLinuxLocations ? Never : UsersLink;
constexpr Follow kLibraryElsewhere = kLinuxLocations ? Never : Any;

constexpr RootRule kRootRules[] = {
    {RootKind::Home, Base::Home, {}, {}, Never, Never},
    {RootKind::CacheHome, Base::Cache, {}, {}, UsersLink, Never},
    {RootKind::ConfigHome, Base::Config, {}, {}, UsersLink, Never},
    {RootKind::DataHome, Base::Data, {}, {}, Never, Never},
    {RootKind::FlatpakCache, Base::VarApp, {"{app}", "cache"}, {Never, Never}, Never, Never},
    {RootKind::FlatpakConfig, Base::VarApp, {"{app}", "config"}, {Never, Never}, Never, Never},
    {RootKind::FlatpakData, Base::VarApp, {"{app}", "data"}, {Never, Never}, Never, Never},
    {RootKind::FlatpakHome, Base::VarApp, {"{app}"}, {Never}, Never, Never},
    {RootKind::SnapCommon, Base::Snap, {"{app}", "common"}, {Never, Never}, Never, Never},
    {RootKind::SnapCurrent, Base::Snap, {"{app}", "current"}, {Never, Revision}, Never, Never},
    {RootKind::LibraryCaches,
     Base::Home,
     {"Library", "Caches"},
     {kLibraryWay, kLibraryWay},
     Never,
     Never},
    {RootKind::LibraryAppSupport,
     Base::Home,
     {"Library", "Application Support"},
     {kLibraryElsewhere, kLibraryElsewhere},
     kLibraryElsewhere,
     kLibraryElsewhere},
    {RootKind::LibraryContainers,
     Base::Home,
     {"Library", "Containers"},
     {kLibraryElsewhere, kLibraryElsewhere},
     kLibraryElsewhere,
     kLibraryElsewhere},
    // The folder a tool's variable names is the items' own folder; its parent is the root.
    {RootKind::ToolFolder, Base::Tool, {}, {}, Never, Never},
};

static_assert(std::size(kRootRules) == static_cast<std::size_t>(RootKind::ToolFolder) + 1,
              "one rule for every kind of root");

const RootRule& ruleOf(RootKind kind) {
    return *std::find_if(std::begin(kRootRules), std::end(kRootRules),
                         [&](const RootRule& rule) { return rule.kind == kind; });
}

constexpr int kPathFlags = O_PATH | O_CLOEXEC;

bool hasWildcard(std::string_view component) {
    return component.find('*') != std::string_view::npos;
}

// The entries of the folder `fd` that `component` matches, in the order the file system lists
// them; none when it cannot be read.
std::vector<std::string> matches(int fd, std::string_view component) {
    std::vector<std::string> out;
    const int listing = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return out;
    DIR* dir = ::fdopendir(listing);
    if (dir == nullptr) {
        ::close(listing);
        return out;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != ".." && wildcardMatch(component, name)) out.emplace_back(name);
    }
    ::closedir(dir);
    return out;
}

}  // namespace

// A tool's folder goes whole. Moved by its variable onto another entry's folders (at, above or
// below them), it would take what they keep beside their caches and count their caches twice:
// then the tool has no folder. Compared by what the folders are on disk (a link of the user's
// or a file system that ignores case can make two texts one folder), and by text with the other
// entries' "*" components too, for the folders that are not there yet.
void leaveOutOverlappingTools(Places& places) {
    Resolver resolver(places);
    const auto overlap = [](std::string_view pattern, std::string_view folder) {
        const auto p = pathComponents(pattern), f = pathComponents(folder);
        for (std::size_t i = 0; i < std::min(p.size(), f.size()); ++i) {
            if (!wildcardMatch(p[i], f[i])) return false;
        }
        return true;
    };
    const std::vector<AppTarget> targets = buildCacheTargets();
    std::vector<std::pair<const Location*, Reached>> reached;  // looked at once, when needed
    std::vector<std::string> dropped;
    for (const auto& [variable, folder] : places.tools) {
        if (folder.empty() || !startupBaseDirVariables().tools.contains(variable)) continue;
        // The folder itself and every real folder it lies in, when it is there.
        std::vector<FolderID> chain;
        for (const Item& item : resolver.items({{RootKind::ToolFolder, variable, {}, {""}}})) {
            const UniqueFd parent = item.openParent();
            struct stat st;
            if (parent &&
                ::fstatat(parent.get(), item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                chain = folderChain(parent.get());
                chain.insert(chain.begin(), FolderID{st.st_dev, st.st_ino});
            }
        }
        if (!chain.empty() && reached.empty()) {
            for (const AppTarget& target : targets) {
                for (const Location& location : target.locations) {
                    reached.emplace_back(&location, resolver.reached({location}));
                }
            }
        }
        const auto has = [](const std::vector<FolderID>& ids, const FolderID& id) {
            return std::find(ids.begin(), ids.end(), id) != ids.end();
        };
        const auto onDisk = [&](const Location& location) {
            for (const auto& [at, what] : reached) {
                if (*at != location) continue;
                // At or above a folder on their way or one of their items, or inside an item.
                return has(what.ways, chain.front()) || has(what.items, chain.front()) ||
                       std::any_of(what.items.begin(), what.items.end(),
                                   [&](const FolderID& id) { return has(chain, id); });
            }
            return false;
        };
        for (const AppTarget& target : targets) {
            for (const Location& location : target.locations) {
                if (location.root == RootKind::ToolFolder && location.app == variable) continue;
                bool same = !chain.empty() && onDisk(location);
                for (const std::string& pattern : resolver.patterns(location)) {
                    same = same || overlap(pattern, folder);
                }
                if (same) dropped.push_back(variable);
            }
        }
    }
    for (const std::string& variable : dropped) places.tools[variable].clear();
}

Places currentPlaces() {
    Places places;
    places.home = homeDirectory();
    if constexpr (kLinuxLocations) {
        const BaseDirs dirs = currentBaseDirs(places.home);
        places.cacheHome = dirs.cacheHome;
        places.configHome = dirs.configTrusted ? dirs.configHome : std::string();
        places.dataHome = dirs.dataTrusted ? dirs.dataHome : std::string();
        places.tools = dirs.tools;
        leaveOutOverlappingTools(places);
    }
    return places;
}

Classified classify(int parentFd, const std::string& name, const UserIds& ids) {
    Classified out;
    if (::fstatat(parentFd, name.c_str(), &out.st, AT_SYMLINK_NOFOLLOW) != 0) return out;
    if (S_ISLNK(out.st.st_mode)) {
        struct stat named;  // a link to nothing counts as nothing
        if (::fstatat(parentFd, name.c_str(), &named, 0) == 0) out.kind = ItemKind::Link;
        return out;
    }
    if (isMountPoint(parentFd, name.c_str())) {
        out.kind = ItemKind::Mount;
    } else if (!ownedByUserOrRoot(out.st, ids)) {
        out.kind = ItemKind::Others;
    } else if (!S_ISDIR(out.st.st_mode)) {
        out.kind = ItemKind::File;
    } else {
        const UniqueFd fd(::openat(parentFd, name.c_str(), kPathFlags | O_NOFOLLOW));
        out.kind =
            fd && !othersMayRename(fd.get(), out.st, ids) ? ItemKind::Folder : ItemKind::Others;
    }
    return out;
}

UniqueFd Item::openParent() const {
    UniqueFd at(::openat(way->root->get(), ".", kPathFlags | O_DIRECTORY));
    std::string text = way->rootText.empty() ? "/" : way->rootText;
    for (const Way::Step& step : way->steps) {
        if (!at) break;
        Opened entered =
            enter(at.get(), text, step.name, static_cast<Follow>(step.follow), *way->rules);
        text = below(text, step.name);
        struct stat st;
        if (entered.reach != Reach::Reached) {
            // Refused now (a folder others may change since): it is no longer as it was found.
            errno = entered.reach == Reach::Failed   ? entered.error
                    : entered.reach == Reach::Absent ? ENOENT
                                                     : ESTALE;
            return {};
        }
        if (::fstat(entered.fd.get(), &st) != 0 || FolderID{st.st_dev, st.st_ino} != step.id) {
            errno = ESTALE;  // another folder stands there now
            return {};
        }
        at = std::move(entered.fd);
    }
    return at;
}

struct Resolver::Root {
    Opened opened;
    std::shared_ptr<const UniqueFd> fd;
    std::string text;
    std::string leaf;  // a tool's folder, below the root: the first component of every item
};

// One item pattern of a location being expanded, below its root.
struct Resolver::Expansion {
    const Root* root;
    const RootRule* rule;
    std::vector<std::string_view> parts;
    std::size_t own;  // how many parts name the application's own folder
    std::vector<Item>* out;
    std::vector<Stayed>* unreachable;
    Reached* reached;
};

Resolver::Resolver() : Resolver(currentPlaces()) {}

Resolver::Resolver(Places places)
    : places_(std::move(places)),
      rules_(std::make_shared<const WayRules>(wayRulesFor(places_.home))) {}

Resolver::~Resolver() = default;

const Opened& Resolver::home() {
    // Everything here starts at the home: it must be the user's own.
    if (!home_) {
        home_ = usersOwn(openWay(places_.home, *rules_), normalizedPath(places_.home), rules_->ids);
    }
    return *home_;
}
std::pair<std::string, std::string> Resolver::baseOf(const Location& location) const {
    const std::string base = homePrefix(places_.home);
    switch (ruleOf(location.root).base) {
        case Base::Home:
            return {base.empty() ? "/" : base, {}};
        case Base::Cache:
            return {places_.cacheHome, {}};
        case Base::Config:
            return {places_.configHome, {}};
        case Base::Data:
            return {places_.dataHome, {}};
        case Base::VarApp:
            return {base + "/.var/app", {}};
        case Base::Snap:
            return {base + "/snap", {}};
        case Base::Tool:
            break;
    }
    const auto tool = places_.tools.find(location.app);
    if (tool == places_.tools.end() || tool->second.size() < 2) return {};
    const std::size_t slash = tool->second.rfind('/');
    return {slash == 0 ? "/" : tool->second.substr(0, slash), tool->second.substr(slash + 1)};
}

std::vector<std::string> Resolver::patterns(const Location& location) const {
    const RootRule& rule = ruleOf(location.root);
    auto [text, leaf] = baseOf(location);
    if (text.empty()) return {};
    for (const std::string_view part : rule.tail) {
        if (!part.empty()) text = below(text, part == "{app}" ? location.app : part);
    }
    for (const std::string_view part :
         {std::string_view(leaf), std::string_view(location.folder)}) {
        if (!part.empty()) text = below(text, part);
    }
    std::vector<std::string> out;
    for (const std::string& item : location.items)
        out.push_back(item.empty() ? text : below(text, item));
    return out;
}

const Resolver::Root* Resolver::root(const Location& location) {
    const RootRule& rule = ruleOf(location.root);
    auto& slot = roots_[{static_cast<int>(location.root), location.app}];
    if (slot) return slot->opened.reach == Reach::Reached ? slot.get() : nullptr;
    slot = std::make_unique<Root>();
    if (home().reach != Reach::Reached) return nullptr;

    std::string text;
    std::tie(text, slot->leaf) = baseOf(location);
    if (text.empty()) return nullptr;  // a folder left out
    // A tool's folder passed the guard by its text: inside the cache home or the home, it is
    // reached from there with no link below, so that its text says where it is.
    std::vector<std::string> way;
    for (const std::string& from : {places_.cacheHome, homePrefix(places_.home)}) {
        if (rule.base != Base::Tool || from.empty() || !text.starts_with(from)) continue;
        if (text.size() == from.size() || text[from.size()] == '/') {
            const std::string rest = text.substr(from.size());
            for (const std::string_view part : pathComponents(rest)) way.emplace_back(part);
            text = from;
            break;
        }
    }
    // Every base folder is the user's own: the home, the XDG folders, ~/.var/app, ~/snap.
    // (A tool's folder was checked when its variable was read; its parent may be root's.)
    Opened at = rule.base == Base::Tool ? openWay(text, *rules_)
                                        : usersOwn(openWay(text, *rules_), text, rules_->ids);
    for (const std::string& name : way) {
        if (at.reach != Reach::Reached) break;
        at = enter(at.fd.get(), text, name, Never, *rules_);
        text = below(text, name);
    }
    for (std::size_t i = 0; i < rule.tail.size() && !rule.tail[i].empty(); ++i) {
        if (at.reach != Reach::Reached) break;
        const std::string name = rule.tail[i] == "{app}" ? location.app : std::string(rule.tail[i]);
        at = enter(at.fd.get(), text, name, rule.tailFollows[i], *rules_);
        text = below(text, name);
    }
    slot->text = text == "/" ? "" : text;
    slot->fd = std::make_shared<const UniqueFd>(std::move(at.fd));
    slot->opened = std::move(at);
    return slot->opened.reach == Reach::Reached ? slot.get() : nullptr;
}

bool Resolver::isRootFolder(int fd) {
    if (!rootFolders_) {
        rootFolders_.emplace();
        if (home().reach == Reach::Reached) *rootFolders_ = folderChain(home_->fd.get());
        const std::string base = homePrefix(places_.home);
        struct stat st;
        for (const std::string& folder : {places_.cacheHome, places_.configHome, places_.dataHome,
                                          base + "/.var/app", base + "/snap"}) {
            if (!folder.empty() && ::stat(folder.c_str(), &st) == 0)
                rootFolders_->emplace_back(st.st_dev, st.st_ino);
        }
    }
    struct stat st;
    return ::fstat(fd, &st) != 0 ||
           std::find(rootFolders_->begin(), rootFolders_->end(), FolderID{st.st_dev, st.st_ino}) !=
               rootFolders_->end();
}

void Resolver::expand(const Location& location, std::string_view item, std::vector<Item>& out,
                      std::vector<Stayed>* unreachable, Reached* reached) {
    const Root* start = root(location);
    if (start == nullptr) return;
    Expansion expansion{
        start,  &ruleOf(location.root), pathComponents(location.folder), 0, &out, unreachable,
        reached};
    std::vector<std::string_view>& parts = expansion.parts;
    if (!start->leaf.empty()) parts.insert(parts.begin(), start->leaf);
    expansion.own = parts.size();
    for (const std::string_view part : pathComponents(item)) parts.push_back(part);
    // A location names entries below its root, never a folder above one of them.
    if (parts.empty() || std::any_of(parts.begin(), parts.end(),
                                     [](auto part) { return part == "." || part == ".."; })) {
        return;
    }
    if (reached != nullptr) {
        const std::vector<FolderID> chain = folderChain(start->fd->get());
        reached->ways.insert(reached->ways.end(), chain.begin(), chain.end());
    }
    std::vector<Way::Step> steps;
    descend(expansion, 0, start->fd->get(), start->text, false, steps);
}

// Depth first, one folder open per level: a "*" with thousands of matches opens each in turn.
// `elsewhere`: reached through the user's link (or a mount) at the application's own folder; the
// items are then where it leads, not inside the folder the text names, and only the guard's name
// rule can vouch for them.
void Resolver::descend(const Expansion& expansion, std::size_t at, int fd, const std::string& text,
                       bool elsewhere, std::vector<Way::Step>& steps) {
    const std::string_view part = expansion.parts[at];
    const bool last = at + 1 == expansion.parts.size();
    const Follow follow =
        at == 0 && expansion.own > 0 ? expansion.rule->ownFolder : expansion.rule->below;
    // A tool's folder is the literal name its variable gives.
    const bool wildcard = !(at == 0 && !expansion.root->leaf.empty()) && hasWildcard(part);
    std::shared_ptr<const Way> way;  // the items here share one
    for (const std::string& name :
         wildcard ? matches(fd, part) : std::vector<std::string>{std::string(part)}) {
        std::string path = text + "/" + name;
        struct stat st;
        if (last) {
            // A literal item counts when something is there (a link, when what it names is).
            if (elsewhere && !nameSaysCache(name)) continue;
            if (wildcard || ::fstatat(fd, name.c_str(), &st, 0) == 0) {
                if (!way) {
                    way = std::make_shared<const Way>(
                        Way{expansion.root->fd, expansion.root->text, steps, rules_});
                }
                if (expansion.reached != nullptr &&
                    ::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                    expansion.reached->items.emplace_back(st.st_dev, st.st_ino);
                }
                expansion.out->push_back(Item{way, name, std::move(path)});
            }
            continue;
        }
        const bool jumps = follow != Never && leadsElsewhere(fd, name);
        Opened entered = enter(fd, text.empty() ? "/" : text, name, follow, *rules_);
        if (entered.reach == Reach::Failed && expansion.unreachable != nullptr) {
            expansion.unreachable->push_back({path, failureOf(entered.error)});
        }
        // The user's link at an application's folder leads to a folder of its own, never back to
        // the home, above it, or onto a folder the roots hang from.
        if (entered.reach != Reach::Reached || ::fstat(entered.fd.get(), &st) != 0 ||
            ((elsewhere || jumps) && at == 0 && isRootFolder(entered.fd.get()))) {
            continue;
        }
        if (expansion.reached != nullptr) {
            const std::vector<FolderID> chain =
                jumps ? folderChain(entered.fd.get())
                      : std::vector<FolderID>{FolderID{st.st_dev, st.st_ino}};
            expansion.reached->ways.insert(expansion.reached->ways.end(), chain.begin(),
                                           chain.end());
        }
        steps.push_back({name, static_cast<std::uint8_t>(follow), {st.st_dev, st.st_ino}});
        descend(expansion, at + 1, entered.fd.get(), path, elsewhere || jumps, steps);
        steps.pop_back();
    }
}

std::vector<Item> Resolver::items(const std::vector<Location>& locations,
                                  std::vector<Stayed>* unreachable) {
    std::vector<Item> found;
    for (const Location& location : locations) {
        for (const std::string& item : location.items) {
            expand(location, item, found, unreachable, nullptr);
        }
    }
    std::unordered_set<std::string> seen;
    std::vector<Item> out;
    for (Item& item : found) {
        if (seen.insert(item.path).second) out.push_back(std::move(item));
    }
    return out;
}

Reached Resolver::reached(const std::vector<Location>& locations) {
    Reached out;
    std::vector<Item> found;
    for (const Location& location : locations) {
        for (const std::string& item : location.items) expand(location, item, found, nullptr, &out);
    }
    return out;
}

bool flatpakFoldersHidden(std::string_view home) {
    if constexpr (!kLinuxLocations) return false;
    const UniqueFd var(::open((homePrefix(home) + "/.var").c_str(), kPathFlags | O_DIRECTORY));
    if (!var || !isMountPoint(var.get(), "app")) return false;
    const UniqueFd app(::openat(var.get(), "app", kPathFlags | O_DIRECTORY | O_NOFOLLOW));
    return app && matches(app.get(), "*") == std::vector<std::string>{kOwnFlatpakID};
}

}  // namespace sweepkin::old
