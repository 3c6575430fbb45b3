#include "engine/fs/link_policy.h"

#include <algorithm>
#include <iterator>

#include "engine/platform.h"

namespace sweepkin {

namespace {

// On Linux nothing under ~/Library is followed; on macOS the caches folder takes the user's
// links on its way, and the other folders are taken as the system resolves them.
constexpr PassRules kLibraryWay = kLinuxLocations ? kNothing : kFollowUsersLink | kEnterMounts;
constexpr PassRules kLibraryElsewhere =
    kLinuxLocations ? kNothing
                    : kFollowAnyLink | kEnterMounts | kOnlyCacheNamedBehind | kNotOntoBase;

constexpr bool kUsersOwn = true, kMayBeRoots = false;
constexpr bool kFromHomes = true, kByItsWay = false;

// The one table. Only the own folder under the cache and config homes takes the user's link;
// nothing at or below a sandbox's folders is followed or entered.
constexpr RootPolicy kRootPolicies[] = {
    {RootKind::Home, Base::Home, kUsersOwn, kByItsWay, {}, {}, kNothing, kNothing},
    {RootKind::CacheHome, Base::Cache, kUsersOwn, kByItsWay, {}, {}, kUsersOwnFolder, kNothing},
    {RootKind::ConfigHome, Base::Config, kUsersOwn, kByItsWay, {}, {}, kUsersOwnFolder, kNothing},
    {RootKind::DataHome, Base::Data, kUsersOwn, kByItsWay, {}, {}, kNothing, kNothing},
    {RootKind::FlatpakCache,
     Base::VarApp,
     kUsersOwn,
     kByItsWay,
     {"{app}", "cache"},
     {kNothing, kNothing},
     kNothing,
     kNothing},
    {RootKind::FlatpakConfig,
     Base::VarApp,
     kUsersOwn,
     kByItsWay,
     {"{app}", "config"},
     {kNothing, kNothing},
     kNothing,
     kNothing},
    {RootKind::FlatpakData,
     Base::VarApp,
     kUsersOwn,
     kByItsWay,
     {"{app}", "data"},
     {kNothing, kNothing},
     kNothing,
     kNothing},
    {RootKind::FlatpakHome, Base::VarApp, kUsersOwn, kByItsWay, {"{app}"}, {}, kNothing, kNothing},
    {RootKind::SnapCommon,
     Base::Snap,
     kUsersOwn,
     kByItsWay,
     {"{app}", "common"},
     {kNothing, kNothing},
     kNothing,
     kNothing},
    {RootKind::SnapCurrent,
     Base::Snap,
     kUsersOwn,
     kByItsWay,
     {"{app}", "current"},
     {kNothing, kFollowToRevision},
     kNothing,
     kNothing},
    {RootKind::LibraryCaches,
     Base::Home,
     kUsersOwn,
     kByItsWay,
     {"Library", "Caches"},
     {kLibraryWay, kLibraryWay},
     kNothing,
     kNothing},
    {RootKind::LibraryAppSupport,
     Base::Home,
     kUsersOwn,
     kByItsWay,
     {"Library", "Application Support"},
     {kLibraryElsewhere, kLibraryElsewhere},
     kLibraryElsewhere,
     kLibraryElsewhere},
    {RootKind::LibraryContainers,
     Base::Home,
     kUsersOwn,
     kByItsWay,
     {"Library", "Containers"},
     {kLibraryElsewhere, kLibraryElsewhere},
     kLibraryElsewhere,
     kLibraryElsewhere},
    // The folder a tool's variable names is the items' own folder; its parent is the root. It
    // passed the guard by its text, so it is reached where that text lies; its folder was checked
    // when the variable was read, and its parent may be root's.
    {RootKind::ToolFolder, Base::Tool, kMayBeRoots, kFromHomes, {}, {}, kNothing, kNothing},
};

static_assert(std::size(kRootPolicies) == static_cast<std::size_t>(RootKind::ToolFolder) + 1,
              "one policy for every kind of root");

}  // namespace

const RootPolicy& policyOf(RootKind kind) {
    return *std::find_if(std::begin(kRootPolicies), std::end(kRootPolicies),
                         [&](const RootPolicy& policy) { return policy.kind == kind; });
}

Follow followOf(PassRules rules) {
    if ((rules & kFollowUsersLink) != 0) return Follow::UsersLink;
    if ((rules & kFollowToRevision) != 0) return Follow::Revision;
    if ((rules & kFollowAnyLink) != 0) return Follow::Any;
    return Follow::Never;
}

std::string_view refusalText(Refusal why) {
    switch (why) {
        case Refusal::MountPoint:
            return "mount point";
        case Refusal::LandsOnBase:
            return "lands on a base folder";
        case Refusal::OthersOwn:
            return "another user's";
        case Refusal::OthersMayWrite:
            return "others may change";
        case Refusal::NotFollowed:
            break;
    }
    return "not followed";
}

}  // namespace sweepkin
