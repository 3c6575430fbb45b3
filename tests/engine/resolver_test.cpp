// Which links and folders the resolver takes, by kind of root and position, and by who could have
// made them: the user, another user, root, or the user with a hard link of theirs in a sticky
// folder. Rows that need another user's or root's entries run as root, which builds the tree and
// then becomes the other account for the look; without root they are skipped.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sched.h>
#include <sys/mount.h>

#include <array>
#include <cstdlib>
#include <sstream>

#include "engine/fs/ownership.h"
#include "engine/fs/resolver.h"
#include "tests/support/tree.h"

namespace sweepkin::fixtures {
namespace {

using enum RootKind;

enum Maker { User, OtherUser, Root, HardLinked };
const char* const kMade[] = {"made by the user", "made by another user", "made by root",
                             "made by the user, hard-linked elsewhere"};

// What a look finds at the location's item: nothing, the folder (behind any link), the link
// itself, an entry not to be touched (another user's, say).
enum class Seen { none, reached, itself, others };
using enum Seen;
const char* const kSeen[] = {"nothing", "the folder", "the link itself", "not to be touched"};

std::string look(const std::string& scratch, const Location& location, const std::string& home) {
    Places places = homePlaces(scratch + "/" + home);
    places.tools["GOCACHE"] = scratch + "/go-cache";  // in the scratch folder: root's as root
    const std::vector<Item> items = Resolver(places).items({location});
    if (items.empty()) return kSeen[int(none)];
    const UniqueFd parent = items[0].openParent();
    switch (classify(parent.get(), items[0].name, items[0].ids()).kind) {
        case ItemKind::Folder: return kSeen[int(reached)];
        case ItemKind::Link: return kSeen[int(itself)];
        case ItemKind::Others: return kSeen[int(others)];
        default: return "something else";
    }
}

// Builds `tree` in a fresh scratch folder, lets `prepare` change it (false: it could not), then
// looks as the user: as itself, or as `user` (the other account unless told) after root gave it
// the home.
std::string lookAs(const std::vector<std::string>& tree, const Location& location,
                   const std::function<bool(const std::string& scratch)>& prepare,
                   const std::string& home = "home", uid_t uid = kOtherUid, gid_t gid = kOtherGid) {
    ScratchDir scratch(Reach::anyUser);
    ::chmod(scratch.path().c_str(), 0755);
    makeTree(scratch.path(), tree);
    return runInChild([&] {
        if (::geteuid() == 0) giveTreeToAnother(scratch / "home", uid, gid);
        if (!prepare(scratch.path())) return std::string("cannot prepare");
        if (::geteuid() == 0 && !dropPrivileges(uid, gid)) return std::string("cannot drop");
        return look(scratch.path(), location, home);
    });
}

// The first entry of the tree is the link whose maker changes; what the look finds for each maker
// (nothing unless told).
struct LinkRow {
    const char* name;
    Location at;
    std::vector<std::string> tree;  // "home/…" is the home
    std::string home = "home";
    Seen user = none, other = none, root = none, hardLink = none;
};

// clang-format off
const Location kSnap{SnapCurrent, "app", ".config/App", {"Cache"}}, kFlatpak{FlatpakCache, "org.a.B", "s", {""}};
const LinkRow kLinkRows[] = {
    // The roots' own ways: the home, the cache home, ~/.var/app, ~/snap.
    {.name = "the home", .at = {Home, {}, "Cache", {""}}, .tree = {"alias->home", "home/Cache/f=1"}, .home = "alias", .user = reached, .root = reached},
    {.name = "the cache home", .at = {CacheHome, {}, "player", {""}}, .tree = {"home/.cache->c", "home/c/player/f=1"}, .user = reached},
    {.name = "~/.var/app", .at = kFlatpak, .tree = {"home/.var/app->v", "home/.var/v/org.a.B/cache/s/f=1"}, .user = reached},
    {.name = "~/snap", .at = {SnapCommon, "player", ".cache/s", {""}}, .tree = {"home/snap->n", "home/n/player/common/.cache/s/f=1"}, .user = reached},
    // An application's folder in the cache or config home, unless it is the item; nothing below.
    {.name = "an application's folder", .at = {CacheHome, {}, "vendor/app", {"*/cache2"}}, .tree = {"home/.cache/vendor->../m", "home/m/app/p/cache2/f=1"}, .user = reached},
    {.name = "the item", .at = {CacheHome, {}, "player", {""}}, .tree = {"home/.cache/player->../s", "home/s/f=1"}, .user = itself, .other = others, .root = itself, .hardLink = itself},
    {.name = "a tool's folder below root's", .at = {ToolFolder, "GOCACHE", {}, {""}}, .tree = {"go-cache->home/g", "home/g/f=1"}, .user = itself, .other = others, .root = itself, .hardLink = itself},
    // Behind it, only an item named for a cache (its text no longer says where it is), and never
    // the home or a folder above it.
    {.name = "to an item not named for a cache", .at = {CacheHome, {}, "Vendor/Browser", {""}}, .tree = {"home/.cache/Vendor->../b", "home/b/Browser/f=1"}},
    {.name = "to the home", .at = {CacheHome, {}, "mail", {"*/cache2"}}, .tree = {"home/.cache/mail->..", "home/Documents/cache2/f=1"}},
    {.name = "below an application's folder", .at = {CacheHome, {}, "vendor/app", {"*/cache2"}}, .tree = {"home/.cache/vendor/app->../f", "home/.cache/f/p/cache2/f=1"}},
    {.name = "below a config folder", .at = {ConfigHome, {}, "browser", {"*/Cache"}}, .tree = {"home/.config/browser/Default->../../p", "home/p/Cache/f=1"}},
    {.name = "in the data home", .at = {DataHome, {}, "Game/library", {"shadercache"}}, .tree = {"home/.local/share/Game->../../s", "home/s/library/shadercache/f=1"}},
    // Nothing a sandbox could have made, even on the user's own way into it.
    {.name = "a sandbox's folder on the way", .at = {ConfigHome, {}, "browser", {"*/Cache"}}, .tree = {"home/.var/app/org.a.B->../../x", "home/.config/browser->../.var/app/org.a.B/config/browser", "home/x/config/browser/Default/Cache/f=1"}},
    {.name = "a sandbox's folder", .at = kFlatpak, .tree = {"home/.var/app/org.a.B->x", "home/.var/app/x/cache/s/f=1"}},
    {.name = "a sandbox's cache folder", .at = kFlatpak, .tree = {"home/.var/app/org.a.B/cache->c", "home/.var/app/org.a.B/c/s/f=1"}},
    // A snap's "current" to a revision beside it, whoever made it; nowhere else.
    {.name = "current to a revision", .at = kSnap, .tree = {"home/snap/app/current->1", "home/snap/app/1/.config/App/Cache/f=1"}, .user = reached, .other = reached, .root = reached, .hardLink = reached},
    {.name = "current to another snap", .at = kSnap, .tree = {"home/snap/app/current->../x", "home/snap/x/.config/App/Cache/f=1"}},
    {.name = "current to a local revision", .at = kSnap, .tree = {"home/snap/app/current->x2", "home/snap/app/x2/.config/App/Cache/f=1"}, .user = reached, .other = reached, .root = reached, .hardLink = reached},
    {.name = "current to common", .at = kSnap, .tree = {"home/snap/app/current->common", "home/snap/app/common/.config/App/Cache/f=1"}},
    {.name = "current to ~/snap", .at = kSnap, .tree = {"home/snap/app/current->..", "home/snap/.config/App/Cache/f=1"}},
    // Nothing on the way to ~/Library on Linux.
    {.name = "~/Library", .at = {LibraryCaches, {}, "app", {""}}, .tree = {"home/Library->Documents", "home/Documents/Caches/app/f=1"}},
};
// clang-format on

void runLinkRows(bool needsRoot) {
    for (const LinkRow& row : kLinkRows) {
        const Seen expected[] = {row.user, row.other, row.root, row.hardLink};
        for (const Maker maker : {User, OtherUser, Root, HardLinked}) {
            if ((maker == OtherUser || maker == Root) != needsRoot) continue;
            const std::string got = lookAs(
                row.tree, row.at,
                [&](const std::string& at) {
                    const std::string link =
                        at + "/" + row.tree.front().substr(0, row.tree.front().find("->"));
                    if (maker == OtherUser || maker == Root) {
                        return ::lchown(link.c_str(), maker == Root ? 0 : 1, 0) == 0;
                    }
                    if (maker == HardLinked) {  // as anyone could, in a sticky folder
                        makeDirs(at + "/shared");
                        return ::chmod((at + "/shared").c_str(), 01777) == 0 &&
                               ::linkat(AT_FDCWD, link.c_str(), AT_FDCWD,
                                        (at + "/shared/copy").c_str(), 0) == 0;
                    }
                    return true;
                },
                row.home);
            EXPECT_EQ(got, kSeen[int(expected[maker])])
                << "a link through " << row.name << ", " << kMade[maker];
        }
    }
}

TEST(LinkRule, LinksTheUserMadeAndHardLinksOfThem) {
    runLinkRows(false);
}

TEST(LinkRule, LinksAnotherUserOrRootMade) {
    if (::geteuid() != 0) GTEST_SKIP() << "another user's links need root to make";
    runLinkRows(true);
}

// An ACL entry letting a user write (setfacl, from the acl package): the group bits show only
// its mask.
bool grantWrite(const std::string& folder, uid_t user) {
    return std::system(
               ("setfacl -m u:" + std::to_string(user) + ":rwx '" + folder + "'").c_str()) == 0;
}

// A mount namespace of this process's own: what it mounts is gone with it.
bool ownMounts() {
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// The account listed as its own group's one member, as a sandbox's generated group file lists it.
bool listInOwnGroup(const std::string& scratch, const std::string& name) {
    std::istringstream in(readText("/etc/group"));
    std::string out;
    for (std::string line; std::getline(in, line);) {
        out += line + (line.starts_with(name + ":") && line.ends_with(":") ? name : "") + "\n";
    }
    writeText(scratch + "/group", out);
    return ownMounts() &&
           ::mount((scratch + "/group").c_str(), "/etc/group", nullptr, MS_BIND, nullptr) == 0;
}

// The cache home on a file system without ACLs (ramfs), holding the tree's player/f=1 again.
bool withoutAcls(const std::string& folder, uid_t uid, gid_t gid) {
    if (!ownMounts() || ::mount("ramfs", folder.c_str(), "ramfs", 0, nullptr) != 0) return false;
    makeTree(folder, {"player/f=1"});
    giveTreeToAnother(folder, uid, gid);
    return true;
}

// Folders on the way and the item itself: another user's, or one that others may change, hides
// what lies behind it; a sticky one does not.
TEST(LinkRule, FoldersOthersOwnOrMayChange) {
    const Location player{CacheHome, {}, "player", {""}};
    // A folder writable by the user's private group (of the user's name, nobody else in it); as
    // root, the test looks as a system account that has one, such as "bin".
    const auto ownGroup = [](const passwd* pw) {
        const group* gr = pw != nullptr ? ::getgrgid(pw->pw_gid) : nullptr;
        return gr != nullptr && gr->gr_mem[0] == nullptr && std::string(gr->gr_name) == pw->pw_name;
    };
    const passwd* me = ::getpwuid(::geteuid());
    for (::setpwent(); ::geteuid() == 0 && (me = ::getpwent()) != nullptr;) {
        if (me->pw_uid > 1 && me->pw_uid != kOtherUid && ownGroup(me)) break;
    }
    const bool privateGroup = ownGroup(me);
    const uid_t uid = ::geteuid() != 0 ? ::geteuid() : privateGroup ? me->pw_uid : kOtherUid;
    const gid_t gid = ::geteuid() != 0 ? ::getegid() : privateGroup ? me->pw_gid : kOtherGid;
    const std::string name = privateGroup ? me->pw_name : "";
    ::endpwent();
    const std::vector<std::string> tree = {"home/.cache/player/f=1"};
    constexpr uid_t same = -1;  // as chown takes it: unchanged
    struct Row {
        std::string folder;
        mode_t mode;
        uid_t owner = same;
        gid_t group = same;   // 100 is a group the user shares
        bool listed = false;  // the user listed in their own group (a mount namespace, as root)
        bool noAcls = false;  // on a file system without ACLs (a mount namespace, as root)
        Seen expect = none;
    };
    const Seen groupWritable = privateGroup ? reached : none;
    // clang-format off
    const Row rows[] = {
        {.folder = "home/.cache", .mode = 0777}, {.folder = "home/.cache", .mode = 01777, .expect = reached},
        {.folder = "home/.cache/player", .mode = 0777, .expect = others},
        {.folder = "home", .mode = 0755, .owner = 1}, {.folder = "home", .mode = 0755, .owner = 0},
        {.folder = "home/.cache", .mode = 0755, .owner = 0},  // the cache home must be the user's
        {.folder = "home/.cache/player", .mode = 0755, .owner = 1, .expect = others},
        {.folder = "home/.cache", .mode = 0775, .group = 100},
        {.folder = "home/.cache", .mode = 0775, .expect = groupWritable},
        {.folder = "home/.cache", .mode = 0775, .listed = true, .expect = groupWritable},
        {.folder = "home/.cache", .mode = 0775, .noAcls = true, .expect = groupWritable},
        {.folder = "home/.cache", .mode = 0775, .group = 100, .noAcls = true}};
    // clang-format on
    for (const Row& row : rows) {
        const bool mounts = row.listed || row.noAcls;
        if ((row.owner != same || row.group != same || mounts) && ::geteuid() != 0) continue;
        const std::string got = lookAs(
            tree, player,
            [&](const std::string& at) {
                const std::string folder = at + "/" + row.folder;
                return (!row.noAcls || withoutAcls(folder, uid, gid)) &&
                       ::chmod(folder.c_str(), row.mode) == 0 &&
                       ::chown(folder.c_str(), row.owner, row.group) == 0 &&
                       (!row.listed || listInOwnGroup(at, name));
            },
            "home", uid, gid);
        if (mounts && got == "cannot prepare") continue;  // no private mounts here
        EXPECT_EQ(got, kSeen[int(row.expect)])
            << row.folder << " mode " << std::oct << row.mode << std::dec << " owner "
            << int(row.owner) << " group " << int(row.group) << (row.listed ? " listed" : "")
            << (row.noAcls ? " without ACLs" : "");
    }
    // The user's own ACL lets another user write to the home, shown only as group bits.
    ScratchDir probe;
    if (!grantWrite(probe.path(), 4242)) GTEST_SKIP() << "no ACLs on this file system";
    for (const uid_t writer : {uid_t{4242}, uid}) {  // an entry for the user alone changes nothing
        EXPECT_EQ(lookAs(
                      tree, player,
                      [&](const std::string& at) { return grantWrite(at + "/home", writer); },
                      "home", uid, gid),
                  kSeen[int(writer == uid ? reached : none)])
            << "an ACL entry for " << writer;
    }
}

// What a child takes itself for in a user namespace of its own whose maps root writes from outside.
std::string idsInNamespace(const std::string& uids, const std::string& gids) {
    return runInChild([&] {
        int up[2], down[2];  // child to parent, parent to child
        if (::pipe(up) != 0 || ::pipe(down) != 0) return std::string("no pipe");
        char byte = 'n';
        const pid_t child = ::fork();
        if (child == 0) {
            if (::unshare(CLONE_NEWUSER) == 0) byte = 'y';
            if (::write(up[1], &byte, 1) != 1 || ::read(down[0], &byte, 1) != 1) ::_exit(1);
            const UserIds ids = readUserIds();
            const std::string seen =
                std::string(ids.everyUid ? "every uid, " : "some uids, ") +
                (ids.everyGid ? "every gid, " : "some gids, ") +
                (ids.userMapped ? "mapped, " : "unmapped, ") +
                (ids.privateGroup ? std::to_string(*ids.privateGroup) : "none") +
                (isRoot(0, ids) ? ", 0 is root" : ", 0 is not root");
            ::_exit(byte == 'y' && ::write(up[1], seen.data(), seen.size()) > 0 ? 0 : 1);
        }
        ::close(up[1]);
        bool ok = ::read(up[0], &byte, 1) == 1 && byte == 'y';
        for (const auto& [file, map] :
             {std::pair{"/uid_map", &uids}, std::pair{"/gid_map", &gids}}) {
            const UniqueFd fd(::open(("/proc/" + std::to_string(child) + file).c_str(), O_WRONLY));
            ok = ok && fd && ::write(fd.get(), map->data(), map->size()) == ssize_t(map->size());
        }
        std::string seen(256, '\0');
        const ssize_t got =
            ::write(down[1], ok ? "y" : "n", 1) == 1 ? ::read(up[0], seen.data(), 256) : -1;
        ::waitpid(child, nullptr, 0);
        return ok && got > 0 ? seen.substr(0, got) : std::string("no namespace");
    });
}

// Every id shows as itself only under the one identity line; the user's id is mapped or is the
// overflow id; the private group is never the overflow group; an owner shown as 0 is root.
TEST(UserIds, AsTheUserNamespaceMapsThem) {
    if (::geteuid() != 0) GTEST_SKIP() << "another process's maps need root to write";
    const std::string every = "0 0 4294967295\n";
    const std::array<std::string, 3> rows[] = {
        {every, every, "every uid, every gid, mapped, 0, 0 is root"},
        {"0 0 1\n", "0 0 1\n", "some uids, some gids, mapped, 0, 0 is root"},
        {"0 1 65534\n", "0 1 65534\n", "some uids, some gids, unmapped, none, 0 is root"}};
    for (const auto& [uids, gids, expected] : rows) {
        const std::string got = idsInNamespace(uids, gids);
        if (got == "no namespace") GTEST_SKIP() << "no user namespaces here";
        EXPECT_EQ(got, expected) << uids;
    }
}

}  // namespace
}  // namespace sweepkin::fixtures
