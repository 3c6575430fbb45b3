#pragma once
// The link policy: which links and mount points the way below each kind of root lets through,
// and what follows from taking one. Every rule is a named bit or column of one table
// (link_policy.cpp); the resolver only executes them, and widening one position changes only the
// bits written there.

#include <array>
#include <cstdint>
#include <string_view>

#include "engine/catalogue/app_target.h"
#include "engine/fs/way.h"

namespace sweepkin {

// The folders the roots hang from, each reached by the way from "/" (which takes the user's
// links).
enum class Base : std::uint8_t { Home, Cache, Config, Data, VarApp, Snap, Tool };

// What one position below a root lets through: a set of the bits below.
using PassRules = std::uint8_t;
inline constexpr PassRules kNothing = 0;
// A link only the user can have made is followed (see openWay).
inline constexpr PassRules kFollowUsersLink = 1u << 0;
// A snap's "current" is followed to the revision name beside it.
inline constexpr PassRules kFollowToRevision = 1u << 1;
// macOS folders outside the caches folder: the path as the system resolves it.
inline constexpr PassRules kFollowAnyLink = 1u << 2;
// A mount point here is entered; without it, what is mounted belongs to another folder.
inline constexpr PassRules kEnterMounts = 1u << 3;
// Behind a link or mount point taken here, an item counts only when its name says "cache": its
// text no longer says where it is.
inline constexpr PassRules kOnlyCacheNamedBehind = 1u << 4;
// A link or mount point taken here may not land on the home, above it, or on a base folder.
inline constexpr PassRules kNotOntoBase = 1u << 5;

// The application's own folder under the cache or config home: the user's link, and what that
// brings with it.
inline constexpr PassRules kUsersOwnFolder =
    kFollowUsersLink | kEnterMounts | kOnlyCacheNamedBehind | kNotOntoBase;

// How the way takes a link at a position with these rules.
Follow followOf(PassRules rules);
constexpr bool entersMounts(PassRules rules) {
    return (rules & kEnterMounts) != 0;
}
// Taking a link or mount point here sends the way elsewhere than its text says.
constexpr bool mayLeadElsewhere(PassRules rules) {
    return (rules & (kFollowUsersLink | kFollowToRevision | kFollowAnyLink | kEnterMounts)) != 0;
}

// The link policy of one kind of root: the folder it hangs from, the fixed components from there
// to the root ("{app}": the location's Flatpak app id or snap name), and the rules at the
// application's own folder (its first component, when that is not the item itself) and below
// it. The item itself is never followed.
struct RootPolicy {
    RootKind kind;
    Base base;
    bool baseMustBeUsersOwn;       // the base folder is the user's own, not root's
    bool reachedFromHomesNoLinks;  // from the cache home or home its text lies in, no link below
    std::array<std::string_view, 2> tail;
    std::array<PassRules, 2> tailRules;
    PassRules ownFolder;
    PassRules below;
};

const RootPolicy& policyOf(RootKind kind);

// The words a refusal is told in: "not followed", "mount point", "lands on a base folder",
// "another user's", "others may change".
std::string_view refusalText(Refusal why);

}  // namespace sweepkin
