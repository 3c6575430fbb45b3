#include "engine/fs/resolver.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <tuple>
#include <unordered_set>

#include "engine/fs/home.h"
#include "engine/fs/link_policy.h"
#include "engine/fs/ownership.h"
#include "engine/fs/safety_guard.h"

namespace sweepkin {

namespace {

constexpr int kPathFlags = O_PATH | O_CLOEXEC;

bool hasWildcard(std::string_view component) {
    return component.find('*') != std::string_view::npos;
}

}  // namespace

UniqueFd Item::openParent() const {
    UniqueFd at(::openat(way->root->get(), ".", kPathFlags | O_DIRECTORY));
    std::string text = way->rootText.empty() ? "/" : way->rootText;
    for (const Way::Step& step : way->steps) {
        if (!at) break;
        Opened entered = enter(at.get(), text, step.name, followOf(step.rules),
                               entersMounts(step.rules), *way->rules);
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
    const RootPolicy* policy;
    std::vector<std::string_view> parts;
    std::size_t own;  // how many parts name the application's own folder
    std::vector<Item>* out;
    std::vector<Stayed>* unreachable;
    std::vector<Stayed>* refused;
    Reached* reached;
    bool judged;  // the verdict decides which items are given
    std::string_view tool;  // the variable of a tool's folder, whose own folders it may take
};

Resolver::Resolver(Places places)
    : places_(std::move(places)),
      rules_(std::make_shared<const WayRules>(wayRulesFor(places_.home))),
      guard_(std::make_shared<const GuardTexts>(GuardTexts{places_.home, places_.cacheHome})) {}

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
    switch (policyOf(location.root).base) {
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
    const RootPolicy& policy = policyOf(location.root);
    auto [text, leaf] = baseOf(location);
    if (text.empty()) return {};
    for (const std::string_view part : policy.tail) {
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
    const RootPolicy& policy = policyOf(location.root);
    auto& slot = roots_[{static_cast<int>(location.root), location.app}];
    if (slot) return slot->opened.reach == Reach::Reached ? slot.get() : nullptr;
    slot = std::make_unique<Root>();
    if (home().reach != Reach::Reached) return nullptr;

    std::string text;
    std::tie(text, slot->leaf) = baseOf(location);
    if (text.empty()) return nullptr;  // a folder left out
    // Reached from the cache home or the home its text lies in, with no link below, so that its
    // text says where it is.
    std::vector<std::string> way;
    for (const std::string& from : {places_.cacheHome, homePrefix(places_.home)}) {
        if (!policy.reachedFromHomesNoLinks || from.empty() || !text.starts_with(from)) continue;
        if (text.size() == from.size() || text[from.size()] == '/') {
            const std::string rest = text.substr(from.size());
            for (const std::string_view part : pathComponents(rest)) way.emplace_back(part);
            text = from;
            break;
        }
    }
    Opened at = policy.baseMustBeUsersOwn ? usersOwn(openWay(text, *rules_), text, rules_->ids)
                                          : openWay(text, *rules_);
    for (const std::string& name : way) {
        if (at.reach != Reach::Reached) break;
        at = enter(at.fd.get(), text, name, Follow::Never, false, *rules_);
        text = below(text, name);
    }
    for (std::size_t i = 0; i < policy.tail.size() && !policy.tail[i].empty(); ++i) {
        if (at.reach != Reach::Reached) break;
        const std::string name =
            policy.tail[i] == "{app}" ? location.app : std::string(policy.tail[i]);
        const PassRules pass = policy.tailRules[i];
        at = enter(at.fd.get(), text, name, followOf(pass), entersMounts(pass), *rules_);
        text = below(text, name);
    }
    if (at.reach == Reach::Refused) noteRefusal(at.where.empty() ? text : at.where, at.why);
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

bool Resolver::holdsRootFolder(const FolderID& id, std::string_view tool) {
    if (!rootChains_) {
        rootChains_.emplace();
        const auto add = [&](const std::string& folder, const std::string& owner) {
            const UniqueFd fd(folder.empty() ? -1
                                             : ::open(folder.c_str(), kPathFlags | O_DIRECTORY));
            if (!fd) return;
            for (const FolderID& held : folderChain(fd.get()))
                rootChains_->emplace_back(held, owner);
        };
        for (const std::string& folder : places_.inUse) add(folder, "");
        for (const std::string& folder :
             {homePrefix(places_.home), places_.cacheHome, places_.configHome, places_.dataHome}) {
            add(folder, "");
        }
        for (const auto& [variable, folders] : places_.toolsInUse) {
            for (const std::string& folder : folders) add(folder, variable);
        }
    }
    return std::any_of(rootChains_->begin(), rootChains_->end(), [&](const auto& held) {
        return held.first == id && (held.second.empty() || held.second != tool);
    });
}

void Resolver::expand(const Location& location, std::string_view item, std::vector<Item>& out,
                      std::vector<Stayed>* unreachable, std::vector<Stayed>* refused,
                      Reached* reached, bool judged) {
    const Root* start = root(location);
    if (start == nullptr) return;
    Expansion expansion{start,
                        &policyOf(location.root),
                        pathComponents(location.folder),
                        0,
                        &out,
                        unreachable,
                        refused,
                        reached,
                        judged,
                        location.root == RootKind::ToolFolder ? std::string_view(location.app)
                                                              : std::string_view()};
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
// `elsewhere`: reached through a link or mount point taken where kOnlyCacheNamedBehind holds; the
// items are then where it leads, not inside the folder the text names, and only the guard's name
// rule can vouch for them.
void Resolver::descend(const Expansion& expansion, std::size_t at, int fd, const std::string& text,
                       bool elsewhere, std::vector<Way::Step>& steps) {
    const std::string_view part = expansion.parts[at];
    const bool last = at + 1 == expansion.parts.size();
    const PassRules pass =
        at == 0 && expansion.own > 0 ? expansion.policy->ownFolder : expansion.policy->below;
    // A tool's folder is the literal name its variable gives.
    const bool wildcard = !(at == 0 && !expansion.root->leaf.empty()) && hasWildcard(part);
    std::shared_ptr<const Way> way;  // the items here share one
    for (const std::string& name :
         wildcard ? matchingEntries(fd, part) : std::vector<std::string>{std::string(part)}) {
        std::string path = text + "/" + name;
        struct stat st;
        if (last) {
            // An item counts when something is there (a link, when what it names is).
            if (::fstatat(fd, name.c_str(), &st, 0) != 0) continue;
            // Never a folder that is or holds one the roots hang from (a cache home set to a
            // tool's caches folder): it holds every other row's folders, and what they keep
            // beside their caches.
            struct stat own {};
            if (expansion.judged && ::fstatat(fd, name.c_str(), &own, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(own.st_mode) && holdsRootFolder({own.st_dev, own.st_ino}, expansion.tool)) {
                continue;
            }
            if (expansion.reached != nullptr &&
                ::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                expansion.reached->items.emplace_back(st.st_dev, st.st_ino);
            }
            if (!way) {
                way = std::make_shared<const Way>(
                    Way{expansion.root->fd, expansion.root->text, steps, rules_, guard_});
            }
            Item item{way, name, std::move(path)};
            // The one verdict: measured, listed and removed alike, or none of them.
            if (!expansion.judged || (item.passesGuard() && (!elsewhere || nameSaysCache(name)))) {
                expansion.out->push_back(std::move(item));
            } else if (expansion.refused != nullptr) {
                expansion.refused->push_back({item.path, Failure::NotCache});
            }
            continue;
        }
        const bool jumps = mayLeadElsewhere(pass) && leadsElsewhere(fd, name);
        Opened entered =
            enter(fd, text.empty() ? "/" : text, name, followOf(pass), entersMounts(pass), *rules_);
        if (entered.reach == Reach::Failed && expansion.unreachable != nullptr) {
            expansion.unreachable->push_back({path, failureOf(entered.error)});
        }
        // A link among a "*"'s matches is simply not a folder it names (Chromium's lock links).
        if (entered.reach == Reach::Refused && !(wildcard && entered.why == Refusal::NotFollowed)) {
            noteRefusal(entered.where.empty() ? path : entered.where, entered.why);
        }
        if (entered.reach != Reach::Reached || ::fstat(entered.fd.get(), &st) != 0) continue;
        if (jumps && (pass & kNotOntoBase) != 0 && isRootFolder(entered.fd.get())) {
            noteRefusal(path, Refusal::LandsOnBase);
            continue;
        }
        if (expansion.reached != nullptr && at + 1 == expansion.own) {
            expansion.reached->owns.emplace_back(st.st_dev, st.st_ino);
        }
        if (expansion.reached != nullptr) {
            const std::vector<FolderID> chain =
                jumps ? folderChain(entered.fd.get())
                      : std::vector<FolderID>{FolderID{st.st_dev, st.st_ino}};
            expansion.reached->ways.insert(expansion.reached->ways.end(), chain.begin(),
                                           chain.end());
        }
        steps.push_back({name, pass, {st.st_dev, st.st_ino}});
        descend(expansion, at + 1, entered.fd.get(), path,
                elsewhere || (jumps && (pass & kOnlyCacheNamedBehind) != 0), steps);
        steps.pop_back();
    }
}

std::vector<Item> Resolver::items(const std::vector<Location>& locations,
                                  std::vector<Stayed>* stayed) {
    std::vector<Item> found;
    std::vector<Stayed> refused;
    for (const Location& location : locations) {
        for (const std::string& item : location.items) {
            expand(location, item, found, stayed, stayed != nullptr ? &refused : nullptr, nullptr);
        }
    }
    std::unordered_set<std::string> seen;
    std::vector<Item> out;
    for (Item& item : found) {
        if (seen.insert(item.path).second) out.push_back(std::move(item));
    }
    // Refused where one location names it and admitted where another does, it goes.
    for (Stayed& item : refused) {
        if (seen.insert(item.path).second) stayed->push_back(std::move(item));
    }
    return out;
}

void Resolver::noteRefusal(const std::string& path, Refusal why) {
    if (std::none_of(refusals_.begin(), refusals_.end(),
                     [&](const Refused& known) { return known.path == path; })) {
        refusals_.push_back({path, why});
    }
}

std::vector<Item> Resolver::reachedItems(const std::vector<Location>& locations) {
    std::vector<Item> found;
    for (const Location& location : locations) {
        for (const std::string& item : location.items) {
            expand(location, item, found, nullptr, nullptr, nullptr, false);
        }
    }
    std::unordered_set<std::string> seen;
    std::erase_if(found, [&](const Item& item) { return !seen.insert(item.path).second; });
    return found;
}

bool Item::passesGuard() const {
    return isSafeCachePath(path, way->guard->home, way->guard->cacheHome);
}

Reached Resolver::reached(const std::vector<Location>& locations) {
    Reached out;
    std::vector<Item> found;
    for (const Location& location : locations) {
        for (const std::string& item : location.items)
            expand(location, item, found, nullptr, nullptr, &out);
    }
    return out;
}

}  // namespace sweepkin
