#include "engine/fs/resolver.h"

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

namespace sweepkin {

namespace {

// How a link met at one position is treated.
enum class Follow : std::uint8_t {
    Never,      // not followed: what lies behind it is refused
    UsersLink,  // followed when only the user can have made it (see openWay)
    Revision,   // a snap's "current": followed to a plain name beside it
    Any,        // macOS folders outside the caches folder: the path as the system resolves it
};

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
constexpr int kMaxLinks = 40;

Reach unreachable(int error) {
    return error == ENOENT || error == ENOTDIR ? Reach::Absent : Reach::Failed;
}

std::string below(const std::string& folder, std::string_view name) {
    return (folder == "/" ? "" : folder) + "/" + std::string(name);
}

Opened outcome(Reach reach, UniqueFd fd = {}) {
    Opened out;
    out.error = reach == Reach::Failed ? errno : 0;
    out.reach = reach;
    out.fd = std::move(fd);
    return out;
}

Opened refused(Refusal why, std::string where) {
    Opened out = outcome(Reach::Refused);
    out.why = why;
    out.where = std::move(where);
    return out;
}

// `fd`, opened without following a link, as a folder the user may rely on: the user's or
// root's, and no one else may rename what is in it.
Opened trusted(UniqueFd fd, const std::string& text) {
    struct stat st;
    if (!fd) return outcome(unreachable(errno));
    if (::fstat(fd.get(), &st) != 0) return outcome(Reach::Failed);
    if (S_ISLNK(st.st_mode)) return refused(Refusal::None, text);
    if (!S_ISDIR(st.st_mode)) return outcome(Reach::Absent);
    if (!ownedByUserOrRoot(st)) return refused(Refusal::OthersOwn, text);
    if (othersMayRename(fd.get(), st)) return refused(Refusal::OthersMayWrite, text);
    return outcome(Reach::Reached, std::move(fd));
}

// `at`, when reached, if it is the user's own folder; else refused as another user's.
Opened usersOwn(Opened at, const std::string& text) {
    struct stat st;
    if (at.reach == Reach::Reached &&
        (::fstat(at.fd.get(), &st) != 0 || st.st_uid != ::geteuid())) {
        return refused(Refusal::OthersOwn, text);
    }
    return at;
}

bool chainHas(int fd, const std::vector<FolderID>& ids) {
    if (ids.empty()) return false;
    const std::vector<FolderID> chain = folderChain(fd);
    return std::any_of(chain.begin(), chain.end(), [&](const FolderID& id) {
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    });
}

Opened walkWay(Opened at, std::string atText, std::string_view path, const WayRules& rules,
               int& hops);

// Enters `name` in the trusted folder `dirFd` (text `dirText`), taking a link only when the user
// alone can have made it; its target is walked one component at a time by the same rule.
Opened enterUsers(int dirFd, const std::string& dirText, const std::string& name,
                  const WayRules& rules, int& hops) {
    const std::string text = below(dirText, name);
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return outcome(unreachable(errno));
    }
    if (!S_ISLNK(st.st_mode)) {
        return trusted(UniqueFd(::openat(dirFd, name.c_str(), kPathFlags | O_NOFOLLOW)), text);
    }
    const bool rootsOutsideHome = st.st_uid == 0 && !(rules.home && chainHas(dirFd, {*rules.home}));
    if (st.st_uid != ::geteuid() && !rootsOutsideHome) return refused(Refusal::OthersOwn, text);
    struct stat dir;
    if (--hops < 0 || ::fstat(dirFd, &dir) != 0 || st.st_nlink != 1 || othersMayAdd(dirFd, dir) ||
        chainHas(dirFd, rules.sandboxes)) {
        return refused(Refusal::OthersMayWrite, text);
    }
    char buffer[4096];
    const ssize_t n = ::readlinkat(dirFd, name.c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) == sizeof buffer) return refused(Refusal::None, text);
    const std::string target(buffer, static_cast<std::size_t>(n));
    const bool absolute = target.front() == '/';
    const std::string from = absolute ? "/" : dirText;
    return walkWay(trusted(UniqueFd(absolute ? ::open("/", kPathFlags | O_DIRECTORY)
                                             : ::openat(dirFd, ".", kPathFlags | O_DIRECTORY)),
                           from),
                   from, target, rules, hops);
}

Opened walkWay(Opened at, std::string atText, std::string_view path, const WayRules& rules,
               int& hops) {
    for (const std::string_view part : pathComponents(path)) {
        if (at.reach != Reach::Reached) break;
        if (part == ".") continue;
        if (part == "..") {  // where the folder really is, as the system takes it
            atText = atText.substr(0, std::max<std::size_t>(1, atText.rfind('/')));
            at = trusted(UniqueFd(::openat(at.fd.get(), "..", kPathFlags | O_DIRECTORY)), atText);
        } else {
            at = enterUsers(at.fd.get(), atText, std::string(part), rules, hops);
            atText = below(atText, part);
        }
    }
    return at;
}

// Enters `name` by the rule of its position.
Opened enter(int dirFd, const std::string& dirText, const std::string& name, Follow follow,
             const WayRules& rules) {
    if (name == "." || name == ".." || name.find('/') != std::string::npos) {
        return refused(Refusal::None, below(dirText, name));
    }
    switch (follow) {
        case UsersLink: {
            int hops = kMaxLinks;
            return enterUsers(dirFd, dirText, name, rules, hops);
        }
        case Any: {
            UniqueFd fd(::openat(dirFd, name.c_str(), kPathFlags | O_DIRECTORY));
            return fd ? outcome(Reach::Reached, std::move(fd)) : outcome(unreachable(errno));
        }
        case Revision: {
            // Snapd points "current" at the revision in use, beside it: a number, or "x" and a
            // number for one installed from a file; never "common" or any other folder.
            char target[256];
            const ssize_t n = ::readlinkat(dirFd, name.c_str(), target, sizeof target);
            if (n >= 0) {
                const std::string_view revision(target, static_cast<std::size_t>(n));
                const std::string_view digits =
                    revision.starts_with('x') ? revision.substr(1) : revision;
                if (digits.empty() || digits.size() > 20 ||
                    digits.find_first_not_of("0123456789") != std::string_view::npos) {
                    return refused(Refusal::None, below(dirText, name));
                }
                return enter(dirFd, dirText, std::string(revision), Never, rules);
            }
            if (errno != EINVAL) return outcome(unreachable(errno));
            return enter(dirFd, dirText, name, Never, rules);
        }
        case Never:
            break;
    }
    // Where nothing is followed, nothing mounted is entered either: what lies behind it belongs
    // to another folder, however it is named here.
    if (isMountPoint(dirFd, name.c_str())) return refused(Refusal::None, below(dirText, name));
    return trusted(UniqueFd(::openat(dirFd, name.c_str(), kPathFlags | O_NOFOLLOW)),
                   below(dirText, name));
}

// `name` in `dirFd` leads elsewhere: a link, or a mount point.
bool leadsElsewhere(int dirFd, const std::string& name) {
    struct stat st;
    return (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) ||
           isMountPoint(dirFd, name.c_str());
}

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

std::vector<FolderID> folderChain(int fd) {
    std::vector<FolderID> chain;
    UniqueFd up;
    struct stat st;
    // Bounded, in case a file system reports ".." strangely.
    for (int at = fd; at >= 0 && chain.size() < 4096 && ::fstat(at, &st) == 0;) {
        const FolderID id{st.st_dev, st.st_ino};
        if (!chain.empty() && chain.back() == id) break;  // "/" is its own parent
        chain.push_back(id);
        up.reset(::openat(at, "..", kPathFlags | O_DIRECTORY));
        at = up.get();
    }
    return chain;
}

WayRules wayRulesFor(std::string_view home) {
    WayRules rules;
    const std::string base = homePrefix(home);
    struct stat st;
    if (::stat(base.empty() ? "/" : base.c_str(), &st) == 0)
        rules.home.emplace(st.st_dev, st.st_ino);
    if constexpr (kLinuxLocations) {
        for (const std::string& folder : {base + "/.var/app", base + "/snap"}) {
            if (::stat(folder.c_str(), &st) == 0)
                rules.sandboxes.emplace_back(st.st_dev, st.st_ino);
        }
    }
    return rules;
}

Opened openWay(std::string_view path, const WayRules& rules) {
    int hops = kMaxLinks;
    return walkWay(trusted(UniqueFd(::open("/", kPathFlags | O_DIRECTORY)), "/"), "/", path, rules,
                   hops);
}

// A tool's folder goes whole. Moved by its variable onto another entry's folders (at, above or
// below them), it would take what they keep beside their caches and count their caches twice:
// then the tool has no folder. Compared as text, with the other entries' "*" components.
void leaveOutOverlappingTools(Places& places) {
    const Resolver resolver(places);
    const auto overlap = [](std::string_view pattern, std::string_view folder) {
        const auto p = pathComponents(pattern), f = pathComponents(folder);
        for (std::size_t i = 0; i < std::min(p.size(), f.size()); ++i) {
            if (!wildcardMatch(p[i], f[i])) return false;
        }
        return true;
    };
    const std::vector<AppTarget> targets = buildCacheTargets();
    std::vector<std::string> dropped;
    for (const auto& [variable, folder] : places.tools) {
        if (folder.empty() || !startupBaseDirVariables().tools.contains(variable)) continue;
        for (const AppTarget& target : targets) {
            for (const Location& location : target.locations) {
                if (location.root == RootKind::ToolFolder && location.app == variable) continue;
                for (const std::string& pattern : resolver.patterns(location)) {
                    if (overlap(pattern, folder)) dropped.push_back(variable);
                }
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

Classified classify(int parentFd, const std::string& name) {
    Classified out;
    if (::fstatat(parentFd, name.c_str(), &out.st, AT_SYMLINK_NOFOLLOW) != 0) return out;
    if (S_ISLNK(out.st.st_mode)) {
        struct stat named;  // a link to nothing counts as nothing
        if (::fstatat(parentFd, name.c_str(), &named, 0) == 0) out.kind = ItemKind::Link;
        return out;
    }
    if (isMountPoint(parentFd, name.c_str())) {
        out.kind = ItemKind::Mount;
    } else if (!ownedByUserOrRoot(out.st)) {
        out.kind = ItemKind::Others;
    } else if (!S_ISDIR(out.st.st_mode)) {
        out.kind = ItemKind::File;
    } else {
        const UniqueFd fd(::openat(parentFd, name.c_str(), kPathFlags | O_NOFOLLOW));
        out.kind = fd && !othersMayRename(fd.get(), out.st) ? ItemKind::Folder : ItemKind::Others;
    }
    return out;
}

struct Resolver::Root {
    Opened opened;
    std::shared_ptr<const UniqueFd> fd;
    std::string text;
    std::string leaf;  // a tool's folder, below the root: the first component of every item
};

Resolver::Resolver() : Resolver(currentPlaces()) {}

Resolver::Resolver(Places places) : places_(std::move(places)), rules_(wayRulesFor(places_.home)) {}

Resolver::~Resolver() = default;

const Opened& Resolver::home() {
    // Everything here starts at the home: it must be the user's own.
    if (!home_) home_ = usersOwn(openWay(places_.home, rules_), normalizedPath(places_.home));
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
    Opened at =
        rule.base == Base::Tool ? openWay(text, rules_) : usersOwn(openWay(text, rules_), text);
    for (const std::string& name : way) {
        if (at.reach != Reach::Reached) break;
        at = enter(at.fd.get(), text, name, Never, rules_);
        text = below(text, name);
    }
    for (std::size_t i = 0; i < rule.tail.size() && !rule.tail[i].empty(); ++i) {
        if (at.reach != Reach::Reached) break;
        const std::string name = rule.tail[i] == "{app}" ? location.app : std::string(rule.tail[i]);
        at = enter(at.fd.get(), text, name, rule.tailFollows[i], rules_);
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
                      std::vector<Stayed>* unreachable) {
    const Root* start = root(location);
    if (start == nullptr) return;
    const RootRule& rule = ruleOf(location.root);
    std::vector<std::string_view> parts = pathComponents(location.folder);
    if (!start->leaf.empty()) parts.insert(parts.begin(), start->leaf);
    const std::size_t own = parts.size();
    for (const std::string_view part : pathComponents(item)) parts.push_back(part);
    // A location names entries below its root, never a folder above one of them.
    if (std::any_of(parts.begin(), parts.end(),
                    [](auto part) { return part == "." || part == ".."; })) {
        return;
    }

    struct Candidate {
        std::shared_ptr<const UniqueFd> fd;
        std::string text;
        // Reached through the user's link (or a mount) at the application's own folder: the
        // items are then where it leads, not inside the folder the text names, and only the
        // guard's name rule can vouch for them.
        bool elsewhere = false;
    };
    std::vector<Candidate> candidates{{start->fd, start->text}};
    for (std::size_t i = 0; i < parts.size() && !candidates.empty(); ++i) {
        const bool last = i + 1 == parts.size();
        const Follow follow = i == 0 && own > 0 ? rule.ownFolder : rule.below;
        std::vector<Candidate> next;
        for (const Candidate& candidate : candidates) {
            const int fd = candidate.fd->get();
            // A tool's folder is the literal name its variable gives.
            const bool wildcard = !(i == 0 && !start->leaf.empty()) && hasWildcard(parts[i]);
            for (const std::string& name : wildcard
                                               ? matches(fd, parts[i])
                                               : std::vector<std::string>{std::string(parts[i])}) {
                std::string text = candidate.text + "/" + name;
                struct stat st;
                if (last) {
                    // A literal item counts when something is there (a link, when what it names
                    // is).
                    if (candidate.elsewhere && !nameSaysCache(name)) continue;
                    if (wildcard || ::fstatat(fd, name.c_str(), &st, 0) == 0) {
                        out.push_back(Item{candidate.fd, name, std::move(text)});
                    }
                    continue;
                }
                const bool elsewhere =
                    candidate.elsewhere || (follow != Never && leadsElsewhere(fd, name));
                Opened entered =
                    enter(fd, candidate.text.empty() ? "/" : candidate.text, name, follow, rules_);
                if (entered.reach == Reach::Failed && unreachable != nullptr) {
                    unreachable->push_back({text, failureOf(entered.error)});
                }
                // The user's link at an application's folder leads to a folder of its own, never
                // back to the home, above it, or onto a folder the roots hang from.
                if (entered.reach == Reach::Reached &&
                    !(elsewhere && i == 0 && isRootFolder(entered.fd.get()))) {
                    next.push_back({std::make_shared<const UniqueFd>(std::move(entered.fd)),
                                    std::move(text), elsewhere});
                }
            }
        }
        candidates = std::move(next);
    }
}

std::vector<Item> Resolver::items(const std::vector<Location>& locations,
                                  std::vector<Stayed>* unreachable) {
    std::vector<Item> found;
    for (const Location& location : locations) {
        for (const std::string& item : location.items) expand(location, item, found, unreachable);
    }
    std::unordered_set<std::string> seen;
    std::vector<Item> out;
    for (Item& item : found) {
        if (seen.insert(item.path).second) out.push_back(std::move(item));
    }
    return out;
}

bool isMountPoint(int parentFd, const char* name) {
    struct statx parent, item;
    constexpr unsigned kMask = STATX_INO | STATX_MNT_ID;
    if (::statx(parentFd, "", AT_EMPTY_PATH, kMask, &parent) != 0 ||
        ::statx(parentFd, name, AT_SYMLINK_NOFOLLOW, kMask, &item) != 0) {
        return false;  // gone, or unreadable: the caller's own checks decide
    }
    return !sameMount(parent, item);
}

}  // namespace sweepkin
