// Which links and folders the resolver takes, by kind of root and position, and by who could have
// made them: the user, another user, root, or the user with a hard link of theirs in a sticky
// folder. Rows that need another user's or root's entries run as root, which builds the tree and
// then becomes an ordinary user (65534) for the look; without root they are skipped.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sched.h>
#include <sys/mount.h>

#include <cstdlib>
#include <sstream>

#include "engine/fs/resolver.h"
#include "tests/support/tree.h"

namespace sweepkin::fixtures {
namespace {

using enum RootKind;

enum Maker { User, OtherUser, Root, HardLinked };

// "r" when the location's item is reached and is what lies behind the link, "l" when the item
// is the link itself, "o" when it is not to be touched (another user's, say), "-" when nothing
// is reached.
std::string look(const std::string& scratch, const Location& location, const std::string& home) {
    const std::string h = scratch + "/" + home;
    Resolver resolver(Places{h, h + "/.cache", h + "/.config", h + "/.local/share"});
    const std::vector<Item> items = resolver.items({location});
    if (items.empty()) return "-";
    // By ItemKind: Missing, Link, Mount, Others, File, Folder.
    const UniqueFd parent = items[0].openParent();
    return {"?l?o?r"[static_cast<int>(classify(parent.get(), items[0].name, items[0].ids()).kind)]};
}

// Builds `tree` in a fresh scratch folder, lets `prepare` change it (false: it could not), then
// looks as the user: as itself, or as `user` (65534 unless told) after root gave it the home.
std::string lookAs(const std::vector<std::string>& tree, const Location& location,
                   const std::function<bool(const std::string& scratch)>& prepare,
                   const std::string& home = "home", uid_t uid = 65534, gid_t gid = 65534) {
    ScratchDir scratch(Reach::anyUser);
    ::chmod(scratch.path().c_str(), 0755);
    makeTree(scratch.path(), tree);
    return runInChild([&] {
        if (::geteuid() == 0) giveToNobody(scratch / "home", uid, gid);
        if (!prepare(scratch.path())) return std::string("cannot prepare");
        if (::geteuid() == 0 && !dropPrivileges(uid, gid)) return std::string("cannot drop");
        return look(scratch.path(), location, home);
    });
}

// The first entry of the tree is the link whose maker changes; one outcome per maker: the user,
// another user, root, the user with a hard link of theirs made elsewhere.
struct LinkRow {
    Location location;
    std::vector<std::string> tree;  // "home/…" is the home
    std::string expect;
    std::string home = "home";
};

// clang-format off
const std::vector<LinkRow> kLinkRows = {
    // The roots' own ways: the home, the cache home, ~/.var/app, ~/snap.
    {{Home, {}, "Cache", {""}}, {"alias->home", "home/Cache/f=1"}, "r-r-", "alias"},
    {{CacheHome, {}, "spotify", {""}}, {"home/.cache->c", "home/c/spotify/f=1"}, "r---"},
    {{FlatpakCache, "org.a.B", "s", {""}}, {"home/.var/app->v", "home/.var/v/org.a.B/cache/s/f=1"}, "r---"},
    {{SnapCommon, "spotify", ".cache/s", {""}}, {"home/snap->n", "home/n/spotify/common/.cache/s/f=1"}, "r---"},
    // An application's folder in the cache or config home, unless it is the item; nothing below.
    {{CacheHome, {}, "mozilla/firefox", {"*/cache2"}}, {"home/.cache/mozilla->../m", "home/m/firefox/p/cache2/f=1"}, "r---"},
    {{CacheHome, {}, "spotify", {""}}, {"home/.cache/spotify->../s", "home/s/f=1"}, "loll"},
    // Behind it, only an item named for a cache (its text no longer says where it is), and never
    // the home or a folder above it.
    {{CacheHome, {}, "BraveSoftware/Brave-Browser", {""}}, {"home/.cache/BraveSoftware->../b", "home/b/Brave-Browser/f=1"}, "----"},
    {{CacheHome, {}, "thunderbird", {"*/cache2"}}, {"home/.cache/thunderbird->..", "home/Documents/cache2/f=1"}, "----"},
    {{CacheHome, {}, "mozilla/firefox", {"*/cache2"}}, {"home/.cache/mozilla/firefox->../f", "home/.cache/f/p/cache2/f=1"}, "----"},
    {{ConfigHome, {}, "google-chrome", {"*/Cache"}}, {"home/.config/google-chrome/Default->../../p", "home/p/Cache/f=1"}, "----"},
    {{DataHome, {}, "Steam/steamapps", {"shadercache"}}, {"home/.local/share/Steam->../../s", "home/s/steamapps/shadercache/f=1"}, "----"},
    // Nothing a sandbox could have made, even on the user's own way into it.
    {{ConfigHome, {}, "google-chrome", {"*/Cache"}}, {"home/.var/app/org.a.B->../../x", "home/.config/google-chrome->../.var/app/org.a.B/config/google-chrome", "home/x/config/google-chrome/Default/Cache/f=1"}, "----"},
    {{FlatpakCache, "org.a.B", "s", {""}}, {"home/.var/app/org.a.B->x", "home/.var/app/x/cache/s/f=1"}, "----"},
    {{FlatpakCache, "org.a.B", "s", {""}}, {"home/.var/app/org.a.B/cache->c", "home/.var/app/org.a.B/c/s/f=1"}, "----"},
    // A snap's "current" to a revision beside it, whoever made it; nowhere else.
    {{SnapCurrent, "slack", ".config/Slack", {"Cache"}}, {"home/snap/slack/current->1", "home/snap/slack/1/.config/Slack/Cache/f=1"}, "rrrr"},
    {{SnapCurrent, "slack", ".config/Slack", {"Cache"}}, {"home/snap/slack/current->../x", "home/snap/x/.config/Slack/Cache/f=1"}, "----"},
    {{SnapCurrent, "slack", ".config/Slack", {"Cache"}}, {"home/snap/slack/current->x2", "home/snap/slack/x2/.config/Slack/Cache/f=1"}, "rrrr"},
    {{SnapCurrent, "slack", ".config/Slack", {"Cache"}}, {"home/snap/slack/current->common", "home/snap/slack/common/.config/Slack/Cache/f=1"}, "----"},
    {{SnapCurrent, "slack", ".config/Slack", {"Cache"}}, {"home/snap/slack/current->..", "home/snap/.config/Slack/Cache/f=1"}, "----"},
    // Nothing on the way to ~/Library on Linux.
    {{LibraryCaches, {}, "CloudKit", {""}}, {"home/Library->Documents", "home/Documents/Caches/CloudKit/f=1"}, "----"},
};
// clang-format on

void runLinkRows(bool needsRoot) {
    const Maker makers[] = {User, OtherUser, Root, HardLinked};
    for (const LinkRow& row : kLinkRows) {
        for (const Maker maker : makers) {
            if ((maker == OtherUser || maker == Root) != needsRoot) continue;
            SCOPED_TRACE(row.tree.front() + ", maker " + std::to_string(maker));
            const std::string got = lookAs(
                row.tree, row.location,
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
            EXPECT_EQ(got, row.expect.substr(maker, 1));
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

// The account listed as the one member of its own group, as a sandbox's generated group file
// lists the user: a copy of /etc/group bound over it in a mount namespace of this process.
bool listInOwnGroup(const std::string& scratch, const std::string& name) {
    std::istringstream in(readText("/etc/group"));
    std::string out;
    for (std::string line; std::getline(in, line);) {
        out += line + (line.starts_with(name + ":") && line.ends_with(":") ? name : "") + "\n";
    }
    writeText(scratch + "/group", out);
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount((scratch + "/group").c_str(), "/etc/group", nullptr, MS_BIND, nullptr) == 0;
}

// Folders on the way and the item itself: another user's, or one that others may change, hides
// what lies behind it; a sticky one does not.
TEST(LinkRule, FoldersOthersOwnOrMayChange) {
    const Location spotify{CacheHome, {}, "spotify", {""}};
    // A folder writable by the user's private group (of the user's name, nobody else in it); as
    // root, the test looks as a system account that has one, such as "bin".
    const auto ownGroup = [](const passwd* pw) {
        const group* gr = pw != nullptr ? ::getgrgid(pw->pw_gid) : nullptr;
        return gr != nullptr && gr->gr_mem[0] == nullptr && std::string(gr->gr_name) == pw->pw_name;
    };
    const passwd* me = ::getpwuid(::geteuid());
    for (::setpwent(); ::geteuid() == 0 && (me = ::getpwent()) != nullptr;) {
        if (me->pw_uid > 1 && me->pw_uid != 65534 && ownGroup(me)) break;
    }
    const bool privateGroup = ownGroup(me);
    const uid_t uid = ::geteuid() != 0 ? ::geteuid() : privateGroup ? me->pw_uid : 65534;
    const gid_t gid = ::geteuid() != 0 ? ::getegid() : privateGroup ? me->pw_gid : 65534;
    const std::string name = privateGroup ? me->pw_name : "";
    ::endpwent();
    const std::vector<std::string> tree = {"home/.cache/spotify/f=1"};
    struct Row {
        std::string folder;
        mode_t mode;
        uid_t owner;  // `same`: unchanged
        gid_t group;  // `same`: unchanged; 100 is a group the user shares
        const char* expect;
        bool listed = false;  // the user listed in their own group (a mount namespace, as root)
    };
    constexpr uid_t same = -1;  // as chown takes it
    // clang-format off
    const Row rows[] = {
        {"home/.cache", 0777, same, same, "-"}, {"home/.cache", 01777, same, same, "r"},
        {"home/.cache/spotify", 0777, same, same, "o"}, {"home", 0755, 1, same, "-"},
        {"home", 0755, 0, same, "-"}, {"home/.cache/spotify", 0755, 1, same, "o"},
        {"home/.cache", 0775, same, 100, "-"}, {"home/.cache", 0775, same, same, privateGroup ? "r" : "-"},
        {"home/.cache", 0775, same, same, privateGroup ? "r" : "-", true}};
    // clang-format on
    for (const Row& row : rows) {
        if ((row.owner != same || row.group != same || row.listed) && ::geteuid() != 0) continue;
        SCOPED_TRACE(row.folder + " " + std::to_string(row.mode) + (row.listed ? " listed" : ""));
        const std::string got = lookAs(
            tree, spotify,
            [&](const std::string& at) {
                const std::string folder = at + "/" + row.folder;
                return ::chmod(folder.c_str(), row.mode) == 0 &&
                       ::chown(folder.c_str(), row.owner, row.group) == 0 &&
                       (!row.listed || listInOwnGroup(at, name));
            },
            "home", uid, gid);
        if (row.listed && got == "cannot prepare") continue;  // no private mounts here
        EXPECT_EQ(got, row.expect);
    }
    // The user's own ACL lets another user write to the home, shown only as group bits.
    ScratchDir probe;
    if (!grantWrite(probe.path(), 4242)) GTEST_SKIP() << "no ACLs on this file system";
    for (const uid_t writer :
         {uid_t{4242}, uid}) {  // an ACL entry for the user alone changes nothing
        EXPECT_EQ(lookAs(
                      tree, spotify,
                      [&](const std::string& at) { return grantWrite(at + "/home", writer); },
                      "home", uid, gid),
                  writer == uid ? "r" : "-");
    }
}

}  // namespace
}  // namespace sweepkin::fixtures
