// Measuring and deleting hostile cache trees, and the system calls of a removal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <cstring>
#include <filesystem>

#include "engine/fs/deletion.h"
#include "engine/fs/link_policy.h"
#include "engine/fs/places.h"
#include "engine/fs/sizes.h"
#include "tests/support/tree.h"

namespace sweepkin::fixtures {
namespace {

using namespace std::string_literals;

// Paths below $HOME as locations rooted at the home.
std::vector<Location> below(std::vector<std::string> paths) {
    for (std::string& path : paths) path.erase(0, std::strlen(std::getenv("HOME")) + 1);
    return homeLocations(paths);
}

std::int64_t sizeAt(const std::string& path) {
    const std::vector<Item> items = Resolver(currentPlaces()).items(below({path}));
    return items.empty() ? 0 : itemSize(items.front());
}

// "measured freed anyFailed[ why]": a measurement of one path, then a deletion.
std::string measureThenDelete(const std::string& measured, const std::vector<std::string>& paths,
                              const DeletionHooks& hooks = {}, bool why = true) {
    const std::int64_t size = measured.empty() ? 0 : sizeAt(measured);
    Resolver resolver(currentPlaces());
    const DeleteResult result = deleteLocations(resolver, below(paths), hooks);
    return std::to_string(size) + " " + std::to_string(result.freed) + " " +
           std::to_string(result.anyFailed) +
           (result.stayed.empty() || !why ? "" : " " + failureText(result.stayed.front().why));
}

// Decoys outside the home folder and in ~/Documents; every case ends with them as they were.
class AdversarialTree : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const std::string& dir : {decoy_, documents_}) {
            makeTree(dir, {"notes.txt=1000", "Cache=500", "Profile/Cookies=2000",
                           "Profile/Cache/data=3000", "a/b/c/deep.txt=40"});
        }
        makeDirs(caches_);
        makeDirs(cacheHome_);
        ::setenv("HOME", home_.c_str(), 1);
        before_ = decoys();
    }
    void TearDown() override { EXPECT_EQ(decoys(), before_) << "a decoy outside changed"; }
    std::pair<Fingerprint, Fingerprint> decoys() const {
        return {fingerprint(decoy_), fingerprint(documents_)};
    }

    ScratchDir scratch_{Reach::anyUser};
    const std::string root_ = scratch_.path(), home_ = root_ + "/home",
                      caches_ = home_ + "/Library/Caches", decoy_ = root_ + "/decoy",
                      documents_ = home_ + "/Documents", cacheHome_ = homePlaces(home_).cacheHome;
    std::pair<Fingerprint, Fingerprint> before_;
};

// Links to outside at every level (deeper than the walker keeps open), a hard link, awkward names,
// fifos and a device are measured and removed as themselves, never followed or read.
// Thousands of entries start the helper thread and split a folder's listing into batches: each
// counts exactly once.
TEST_F(AdversarialTree, HostileEntriesAtEveryLevelAreRemovedNotFollowed) {
    const std::string app = caches_ + "/links\nwith a newline", fifo = caches_ + "/pipe-cache";
    std::vector<std::string> tree;
    std::string dir, up = "../../../../";
    std::int64_t belowL1 = 0;  // one walker alone goes down (and back up) the chain below l1
    for (int depth = 1; depth <= 12; dir += "l" + std::to_string(depth++) + "/", up += "../") {
        belowL1 += depth > 1 ? 100 * depth : 0;
        for (const std::string& entry :
             {"f.bin=" + std::to_string(100 * depth), "to-decoy->" + decoy_,
              "relative-decoy->" + up + "decoy", "to-file->" + decoy_ + "/notes.txt",
              "Cache->" + documents_ + "/Profile/Cache", "dangling->" + root_ + "/nowhere"}) {
            tree.push_back(dir + entry);
        }
    }
    int size = 1;
    for (const std::string& name :
         {"line\nbreak"s, "\xff\xfe invalid utf-8"s, "-rf"s, " lead"s, "trail "s, "*"s, "?"s,
          "[ab]"s, "back\\slash"s, "..."s, "tab\there"s, "\x01\x1b[31m"s, std::string(255, 'n')}) {
        tree.push_back(name + "=" + std::to_string(size++));
        tree.push_back("d" + name.substr(0, 200) + "/" + name + "=" + std::to_string(size++));
    }
    for (int i = 0; i < 6'000; ++i) {
        tree.push_back((i < 5'000 ? "flat" : std::to_string(i % 7) + "/" + std::to_string(i)) +
                       "/" + std::to_string(i) + "-padding=" + std::to_string(i % 300));
    }
    // The hard link to the decoy counts nothing: removing it frees nothing while the decoy stays.
    const std::string bytes = std::to_string(makeTree(app, tree));
    EXPECT_EQ(sizeAt(app + "/l1"), belowL1);
    ASSERT_EQ(::link((decoy_ + "/Profile/Cookies").c_str(), (app + "/hard-link").c_str()), 0);
    ASSERT_EQ(::mkfifo((app + "/pipe").c_str(), 0644) + ::mkfifo(fifo.c_str(), 0644), 0);
    if (::geteuid() == 0) ::mknod((app + "/zero").c_str(), S_IFCHR | 0644, ::makedev(1, 5));
    const std::string outcome = runInChild([&] {
        const std::string sizes = std::to_string(sizeAt(app) + sizeAt(fifo));
        return sizes + " " + measureThenDelete(app, {app, fifo});
    });
    EXPECT_EQ(outcome, bytes + " " + bytes + " " + bytes + " 0");
    EXPECT_FALSE(exists(app) || exists(fifo));
}

// A file with several names frees its bytes when its last name goes: it counts once when all
// its names lie in the row's items, and nothing while one lies elsewhere, measured and freed
// alike. Paths are below the caches folder; "../../proj" is outside the row, in the home.
TEST_F(AdversarialTree, FilesWithSeveralNamesCountWhenTheRowHoldsThemAll) {
    struct Row {
        const char* what;
        std::vector<std::string> tree;
        std::vector<std::pair<std::string, std::string>> links;  // an existing name, a new one
        std::vector<std::string> items;
        std::int64_t counted;  // measured, and freed
    };
    std::vector<std::string> flat;
    std::vector<std::pair<std::string, std::string>> twins;
    for (int i = 0; i < 3'000; ++i) {
        flat.push_back("big/flat/" + std::to_string(i) + "=1");
        twins.push_back({"big/flat/" + std::to_string(i), "big/twin/" + std::to_string(i)});
    }
    twins.push_back({"big/flat/0", "../../proj/kept"});
    const Row rows[] = {
        {"a web cache's blob under its record's name too",
         {"web/Blobs/b=5000", "web/Records/x=100"},
         {{"web/Blobs/b", "web/Records/r/b-blob"}},
         {"web"},
         5100},
        {"a store linked into a project",
         {"store/files/f=3000", "store/index=10"},
         {{"store/files/f", "../../proj/node_modules/f"}},
         {"store"},
         10},
        {"three names, one outside",
         {"t/f=700"},
         {{"t/f", "t/g"}, {"t/f", "../../proj/h"}},
         {"t"},
         0},
        {"names in two items of the row",
         {"a/f=4000", "b/x=1"},
         {{"a/f", "b/g"}},
         {"a", "b"},
         4001},
        {"a name in an item inside another",
         {"c/sub/f=2000"},
         {{"c/sub/f", "c/g"}},
         {"c/sub", "c"},
         2000},
        {"an item that is a file", {"file=600", "d/"}, {{"file", "d/other"}}, {"file", "d"}, 600},
        {"pairs met by both threads, one with a name outside", flat, twins, {"big"}, 2'999},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        makeTree(caches_, row.tree);
        for (const auto& [name, other] : row.links) {
            makeDirs(std::filesystem::path(caches_ + "/" + other).parent_path());
            ASSERT_EQ(::link((caches_ + "/" + name).c_str(), (caches_ + "/" + other).c_str()), 0);
        }
        std::vector<std::string> paths;
        for (const std::string& item : row.items) paths.push_back(caches_ + "/" + item);
        Resolver resolver(currentPlaces());
        EXPECT_EQ(pathsSize(resolver.items(below(paths))), row.counted);
        EXPECT_EQ(deleteLocations(resolver, below(paths)).freed, row.counted);
        for (const std::string& path : paths) EXPECT_FALSE(exists(path)) << path;
        for (const auto& [name, other] : row.links) {
            if (other.starts_with("../")) {
                EXPECT_TRUE(exists(caches_ + "/" + other)) << other;
            }
        }
        removeTree(home_ + "/proj");
    }
}

// A "*" with 5,000 matches among 2,000 folders without one, under a limit of 256 descriptors:
// measured and removed whole, as the folders are reached one at a time.
TEST_F(AdversarialTree, ThousandsOfMatchesUnderAFewDescriptors) {
    std::vector<std::string> tree;
    for (int i = 0; i < 7'000; ++i) {
        tree.push_back("p" + std::to_string(i) + (i < 5'000 ? "/Cache/f=1" : "/"));
    }
    makeTree(caches_ + "/profiles", tree);
    const std::string outcome = runInChild([&] {
        const rlimit limit{256, 256};
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return "cannot limit"s;
        const Location profiles{RootKind::Home, {}, "Library/Caches/profiles", {"*/Cache"}};
        Resolver resolver(currentPlaces());
        const std::int64_t measured = pathsSize(resolver.items({profiles}));
        const DeleteResult result = deleteLocations(resolver, {profiles});
        return std::to_string(measured) + " " + std::to_string(result.freed) + " " +
               std::to_string(result.anyFailed);
    });
    EXPECT_EQ(outcome, "5000 5000 0");
    EXPECT_FALSE(exists(caches_ + "/profiles/p0/Cache") ||
                 exists(caches_ + "/profiles/p4999/Cache"));
}

// As an ordinary user: measuring passes over what it cannot read and counts the rest. The
// removal gives the owner back the rights to empty the user's own folders inside what it
// removes: a module cache's read-only tree (folders 0555, files 0444) and a build's, helper
// folders even their owner may not list (0000, 0044). A link in them (a build's "install" link,
// a link to a source in the workspace) goes as a link; the folder an item lies in is never
// changed, so an item in a read-only folder is emptied but stays; one in a folder that may not
// be searched is a failure, not "nothing to do".
TEST_F(AdversarialTree, ReadOnlyAndUnreadableFoldersAsAnOrdinaryUser) {
    const std::string locked = caches_ + "/locked", mod = caches_ + "/mod",
                      build = caches_ + "/bazel/_bazel_u", shut = caches_ + "/shut",
                      lib = mod + "/example.com/lib@v1.0.0", out = build + "/base/bin/t_dir";
    makeTree(caches_,
             {"locked/ok.bin=100", "locked/sealed/secret.bin=200", "locked/helper/h.bin=30",
              "locked/z/after=20", "plain/c.bin=500", "empty-sealed/",
              "mod/example.com/lib@v1.0.0/lib.go=300", "mod/example.com/lib@v1.0.0/sub/x=50",
              "mod/cache/download/v.zip=5", "bazel/_bazel_u/base/bin/t_dir/sub/f.txt=40",
              "bazel/_bazel_u/base/install->" + decoy_ + "/a",
              "bazel/_bazel_u/base/src/hello.c->" + documents_ + "/notes.txt", "shut/item/f=60",
              "unsearchable/in/Cache/f=7"});
    for (const std::string& file : {lib + "/lib.go", lib + "/sub/x", out + "/sub/f.txt"}) {
        ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    }
    giveTreeToAnother(root_);  // decoys included: only the program's care keeps them intact
    const std::pair<std::string, mode_t> modes[] = {{locked + "/sealed", 0},
                                                    {locked + "/helper", 0044},
                                                    {caches_ + "/empty-sealed", 0},
                                                    {lib + "/sub", 0555},
                                                    {lib, 0555},
                                                    {mod + "/example.com", 0555},
                                                    {mod, 0555},
                                                    {out + "/sub", 0555},
                                                    {out, 0555},
                                                    {decoy_ + "/a/b", 0555},
                                                    {decoy_ + "/a", 0555},
                                                    {shut, 0555},
                                                    {caches_ + "/unsearchable", 0600}};
    for (const auto& [folder, mode] : modes) ASSERT_EQ(::chmod(folder.c_str(), mode), 0);
    before_ = decoys();
    const std::string outcome = runInChild([&] {
        if (::geteuid() == 0 && !dropPrivileges()) return "cannot drop privileges"s;
        const std::string cache = caches_ + "/unsearchable/in/Cache";
        return measureThenDelete(mod, {mod}) + ", " + measureThenDelete(build, {build}) + ", " +
               measureThenDelete(locked, {locked, caches_ + "/plain", caches_ + "/empty-sealed"}) +
               ", " + measureThenDelete(shut + "/item", {shut + "/item"}) + ", " +
               measureThenDelete(cache, {cache});
    });
    EXPECT_EQ(outcome,
              "355 355 0, 40 40 0, 120 850 0, 60 60 1 permission denied, 0 0 1 permission denied");
    for (const char* gone : {"mod", "bazel/_bazel_u", "locked", "plain", "empty-sealed"}) {
        EXPECT_FALSE(exists(caches_ + "/" + gone)) << gone;
    }
    struct stat st {};
    EXPECT_TRUE(::stat(shut.c_str(), &st) == 0 && (st.st_mode & 07777) == 0555 &&
                exists(shut + "/item") && !exists(shut + "/item/f"));
}

// Measuring stays on the cache's own file system, as the removal does: what is mounted inside
// (the decoy bound, a file of it bound, a tmpfs) is neither counted nor touched, and the path
// fails after the rest went; a cache path that is itself a mount point (the decoy bound there,
// on the same file system), or lies behind one, is neither counted nor emptied.
TEST_F(AdversarialTree, MountsAndOtherUsersFilesInsideACacheFolderAreLeftAlone) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root (in a private mount namespace)";
    const std::string app = caches_ + "/mounted";
    makeTree(app, {"a.bin=100", "sub/bound/", "sub/tmp/", "sub/bound-file=0", "sub/others/f=50"});
    // Another user's folder inside is theirs: neither counted nor removed either.
    ASSERT_EQ(::chown((app + "/sub/others").c_str(), 1, 1) +
                  ::chown((app + "/sub/others/f").c_str(), 1, 1),
              0);
    const std::string outcome = runInChild([&] {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(decoy_.c_str(), (app + "/sub/bound").c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            ::mount((decoy_ + "/notes.txt").c_str(), (app + "/sub/bound-file").c_str(), nullptr,
                    MS_BIND, nullptr) != 0 ||
            ::mount("tmpfs", (app + "/sub/tmp").c_str(), "tmpfs", 0, "size=1m") != 0) {
            return "skip"s;
        }
        writeText(app + "/sub/tmp/t", "on another file system");
        const std::string mountPoint = measureThenDelete(app + "/sub/bound", {app + "/sub/bound"}) +
                                       " " + measureThenDelete({}, {app + "/sub/bound/Cache"});
        // Which of the three is met first depends on the listing's order.
        const std::string clean = measureThenDelete(app, {app}, {}, false);
        return mountPoint + " " + clean + " " + readText(app + "/sub/tmp/t");
    });
    if (outcome == "skip") GTEST_SKIP() << "this machine refuses private mounts";
    EXPECT_EQ(outcome, "0 0 0 0 0 0 100 100 1 on another file system");
    EXPECT_TRUE(!exists(app + "/a.bin") && exists(app + "/sub/bound") &&
                exists(app + "/sub/others/f"));
}

// One owner rule for every kind of entry, as an item and inside a cache folder alike: another
// user's (uid 1), or a folder others may change, is neither counted nor removed; inside, the
// rest goes and the path fails with the reason.
struct OwnerRow {
    const char* kind;
    mode_t type;         // S_IFLNK: a link to the decoy
    bool othersOwn;      // else the user's own, writable by all (a folder) or by nobody else
    std::string inside;  // measured, freed, failed and why, with one user's file beside it
    std::string asItem;
};
const OwnerRow kOwnerRows[] = {
    {"fifo", S_IFIFO, true, "100 100 1 another user's files inside", "0 0 0"},
    {"socket", S_IFSOCK, true, "100 100 1 another user's files inside", "0 0 0"},
    {"device", S_IFCHR, true, "100 100 1 another user's files inside", "0 0 0"},
    {"link", S_IFLNK, true, "100 100 1 another user's files inside", "0 0 0"},
    {"file", S_IFREG, true, "100 100 1 another user's files inside", "0 0 0"},
    {"folder", S_IFDIR, true, "100 100 1 another user's files inside", "0 0 0"},
    {"shared folder", S_IFDIR, false, "100 100 1 other users may change a folder inside", "0 0 0"},
    {"own fifo", S_IFIFO, false, "100 100 0", "0 0 0"},
};

TEST_F(AdversarialTree, OtherUsersEntriesOfEveryKindAreLeftAlone) {
    if (::geteuid() != 0) GTEST_SKIP() << "another user's entries need root to make";
    for (const OwnerRow& row : kOwnerRows) {
        SCOPED_TRACE(row.kind);
        for (const bool asItem : {false, true}) {
            const std::string app = caches_ + "/app", entry = asItem ? app + "-x" : app + "/x";
            makeTree(app, {"mine.bin=100"});
            const int made = row.type == S_IFLNK ? ::symlink(decoy_.c_str(), entry.c_str())
                             : row.type == S_IFDIR
                                 ? ::mkdir(entry.c_str(), 0755)
                                 : ::mknod(entry.c_str(), row.type | 0644, ::makedev(1, 5));
            ASSERT_EQ(made, 0);
            if (row.type == S_IFREG) ASSERT_EQ(::truncate(entry.c_str(), 0), 0);
            ASSERT_EQ(row.othersOwn         ? ::lchown(entry.c_str(), 1, 1)
                      : row.type == S_IFDIR ? ::chmod(entry.c_str(), 0777)
                                            : 0,
                      0);
            const std::string path = asItem ? entry : app;
            EXPECT_EQ(runInChild([&] { return measureThenDelete(path, {path}); }),
                      asItem ? row.asItem : row.inside);
            EXPECT_EQ(exists(entry), row.othersOwn || row.type == S_IFDIR);
            removeTree(app);
            if (row.type == S_IFDIR) removeTree(entry);
            ::unlink(entry.c_str());
        }
    }
}

// What the resolver refuses is neither measured nor removed, and the clean says it stayed: a
// path the guard refuses, and behind the user's link at an application's folder, an item whose
// name does not say "cache".
TEST_F(AdversarialTree, RefusedItemsStayAsNotACache) {
    const std::string notes = documents_ + "/notes.txt";
    EXPECT_EQ(measureThenDelete(notes, {notes}), "0 0 1 not a cache");
    ASSERT_EQ(::symlink(decoy_.c_str(), (cacheHome_ + "/app").c_str()), 0);
    Resolver resolver(currentPlaces());
    const Location behind{RootKind::CacheHome, {}, "app", {"Profile"}};
    EXPECT_EQ(pathsSize(resolver.items({behind})), 0);
    const DeleteResult result = deleteLocations(resolver, {behind});
    ASSERT_EQ(result.stayed.size(), 1u);
    EXPECT_EQ(result.stayed[0].path, cacheHome_ + "/app/Profile");
    EXPECT_EQ(failureText(result.stayed[0].why), "not a cache");
    // Folders left alone on the way say which rule refused them.
    ASSERT_EQ(::symlink(home_.c_str(), (cacheHome_ + "/home-link").c_str()), 0);
    makeDirs(cacheHome_ + "/shared/p/Cache");
    ASSERT_EQ(::chmod((cacheHome_ + "/shared/p").c_str(), 0777), 0);
    resolver.items({{RootKind::CacheHome, {}, "home-link", {"Cache"}},
                    {RootKind::CacheHome, {}, "shared", {"p/Cache"}}});
    ASSERT_EQ(resolver.refusals().size(), 2u);
    EXPECT_EQ(resolver.refusals()[0].path, cacheHome_ + "/home-link");
    EXPECT_EQ(refusalText(resolver.refusals()[0].why), "lands on a base folder");
    EXPECT_EQ(resolver.refusals()[1].path, cacheHome_ + "/shared/p");
    EXPECT_EQ(refusalText(resolver.refusals()[1].why), "others may change");
}

// A folder is replaced by a link to the decoy just before the removal opens it (on its first
// visit, or its second once the files are gone), as another process racing the clean could do.
// The folder moved away must survive as well.
TEST_F(AdversarialTree, FolderSwappedForALinkDuringTheRemoval) {
    const std::tuple<const char*, int, int> cases[] = {
        {"app", 1, 1230}, {"level1", 1, 230}, {"level2", 1, 30}, {"level1", 2, 0}};
    for (const auto& [swapped, visit, moved] : cases) {
        SCOPED_TRACE(swapped + std::to_string(visit));
        const std::string app = caches_ + "/app", movedTo = home_ + "/moved-away-cache";
        makeTree(app, {"top.bin=1000", "level1/one.bin=200", "level1/level2/two.bin=30"});
        std::atomic<int> visits{0};
        DeletionHooks hooks;
        hooks.beforeDescend = [&, name = std::string(swapped), visit = visit](int parentFd,
                                                                              const char* entry) {
            if (entry != name || ++visits != visit) return;
            EXPECT_EQ(::renameat(parentFd, entry, AT_FDCWD, movedTo.c_str()), 0);
            EXPECT_EQ(::symlinkat(decoy_.c_str(), parentFd, entry), 0);
        };
        EXPECT_EQ(measureThenDelete(app, {app}, hooks),
                  "1230 " + std::to_string(1230 - moved) + " 0");
        EXPECT_TRUE(visits >= visit && !exists(app));
        EXPECT_EQ(sizeAt(movedTo), moved) << "the folder moved away lost files";
        removeTree(movedTo);
    }
}

}  // namespace
}  // namespace sweepkin::fixtures
