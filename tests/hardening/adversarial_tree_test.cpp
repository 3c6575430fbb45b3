// Measuring and deleting hostile cache trees; every case ends with the decoy trees outside the
// cache folders exactly as they were.

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/deletion.h"
#include "engine/sizes.h"
#include "tests/support/tree.h"

namespace sweepkin::hardening {
namespace {

// "measured freed anyFailed": a measurement then a deletion, as text a child can send back.
std::string figures(std::int64_t measured, std::int64_t freed, bool anyFailed) {
    return std::to_string(measured) + " " + std::to_string(freed) + " " + (anyFailed ? "1" : "0");
}

std::string measureThenDelete(const std::string& measured, const std::vector<std::string>& paths) {
    const std::int64_t size = itemSize(measured);
    const DeleteResult result = deleteCachePaths(paths);
    return figures(size, result.freed, result.anyFailed);
}

class AdversarialTree : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.path().empty()) << "no scratch folder";
        root_ = scratch_.path();
        home_ = root_ + "/home";
        caches_ = home_ + "/Library/Caches";
        decoy_ = root_ + "/decoy";
        documents_ = home_ + "/Documents";
        makeDirs(caches_);
        buildDecoy(decoy_);
        buildDecoy(documents_);
        home_guard_.emplace(home_);
        before_ = decoys();
        ASSERT_GT(before_.size(), 10u);
    }

    // Every case, whatever it asserted, ends with the decoys exactly as they were.
    void TearDown() override { EXPECT_EQ(decoys(), before_) << "a decoy outside changed"; }

    static void buildDecoy(const std::string& dir) {
        writeFile(dir + "/notes.txt", 1000);
        writeFile(dir + "/Cache", 500);
        writeFile(dir + "/Profile/Cookies", 2000);
        writeFile(dir + "/Profile/Cache/data", 3000);
        writeFile(dir + "/a/b/c/deep.txt", 40);
    }

    Fingerprint decoys() const {
        Fingerprint all;
        for (const auto& [key, value] : fingerprint(decoy_)) all["decoy/" + key] = value;
        for (const auto& [key, value] : fingerprint(documents_)) all["documents/" + key] = value;
        return all;
    }

    std::string cacheFolder(const std::string& name) const {
        const std::string path = caches_ + "/" + name;
        makeDirs(path);
        return path;
    }

    ScratchDir scratch_;
    std::string root_, home_, caches_, decoy_, documents_;
    std::optional<ScopedHome> home_guard_;
    Fingerprint before_;
};

TEST_F(AdversarialTree, LinksToOutsideAtEveryLevelAreRemovedNotFollowed) {
    const std::string app = cacheFolder("links");
    std::int64_t bytes = writeFile(app + "/top.bin", 1000);
    std::string dir = app;
    for (int depth = 0; depth < 4; ++depth) {
        if (depth > 0) {
            dir += "/l" + std::to_string(depth);
            makeDirs(dir);
        }
        bytes += writeFile(dir + "/f.bin", 100 * (depth + 1));
        std::string up;
        for (int i = 0; i < 4 + depth; ++i) up += "../";
        ASSERT_EQ(::symlink(decoy_.c_str(), (dir + "/to-decoy").c_str()), 0);
        ASSERT_EQ(::symlink((up + "decoy").c_str(), (dir + "/relative-decoy").c_str()), 0);
        ASSERT_EQ(::symlink((decoy_ + "/notes.txt").c_str(), (dir + "/to-file").c_str()), 0);
        ASSERT_EQ(::symlink((documents_ + "/Profile/Cache").c_str(), (dir + "/Cache").c_str()), 0);
        ASSERT_EQ(::symlink((root_ + "/nowhere").c_str(), (dir + "/dangling").c_str()), 0);
    }
    // A hard link shares the decoy's data; removing this name must leave the data in place.
    ASSERT_EQ(::link((decoy_ + "/Profile/Cookies").c_str(), (app + "/hard-link").c_str()), 0);
    bytes += 2000;

    EXPECT_EQ(directorySize(app), bytes);
    EXPECT_EQ(measureThenDelete(app, {app}), figures(bytes, bytes, false));
    EXPECT_FALSE(exists(app));
}

TEST_F(AdversarialTree, CachePathsThatAreThemselvesLinks) {
    struct Case {
        const char* what;
        std::string path;
        std::string target;
        bool targetExists;
    };
    const std::vector<Case> cases = {
        {"link to a folder outside", caches_ + "/linked-folder", decoy_, true},
        {"link to a file outside", caches_ + "/linked-file", decoy_ + "/notes.txt", true},
        {"link to a cache-named folder outside", caches_ + "/LinkedCache",
         documents_ + "/Profile/Cache", true},
        {"cache-named link outside the caches folder", home_ + "/LinkCache", decoy_, true},
        {"dangling link", caches_ + "/dangling", root_ + "/nothing-here", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(::symlink(c.target.c_str(), c.path.c_str()), 0);
        // Removing a link frees nothing: its target stays where it is.
        EXPECT_EQ(measureThenDelete(c.path, {c.path}), figures(0, 0, false));
        // A link to nothing does not exist for the existence test and is left alone.
        EXPECT_EQ(exists(c.path), !c.targetExists);
        ::unlink(c.path.c_str());
    }
}

TEST_F(AdversarialTree, LinkOnTheWayDownFromTheCachesFolderIsNotFollowed) {
    ASSERT_EQ(::symlink(decoy_.c_str(), (caches_ + "/via").c_str()), 0);
    ASSERT_EQ(::symlink(home_.c_str(), (caches_ + "/home-link").c_str()), 0);
    // Flatpak's and snap's caches folders are walked down the same way.
    const std::string flatpak = home_ + "/.var/app/org.example.App/cache";
    const std::string snap = home_ + "/snap/example/common/.cache";
    for (const std::string& folder : {flatpak, snap}) {
        makeDirs(folder);
        ASSERT_EQ(::symlink(decoy_.c_str(), (folder + "/via").c_str()), 0);
    }
    // These texts lie inside a caches folder, but the folders they name do not.
    const DeleteResult result = deleteCachePaths(
        {caches_ + "/via/notes.txt", caches_ + "/via/Profile", caches_ + "/via/a/b",
         caches_ + "/home-link/Documents/a", flatpak + "/via/notes.txt", snap + "/via/Profile"});
    EXPECT_EQ(result.freed, 0);
    EXPECT_FALSE(result.anyFailed);
}

TEST_F(AdversarialTree, FifosSocketsAndDevicesAreNeitherOpenedNorCounted) {
    const std::string app = cacheFolder("specials");
    const std::int64_t bytes = writeFile(app + "/plain.bin", 123);
    ASSERT_EQ(::mkfifo((app + "/pipe").c_str(), 0644), 0);
    const std::string fifoPath = caches_ + "/pipe-cache";
    ASSERT_EQ(::mkfifo(fifoPath.c_str(), 0644), 0);

    // sun_path is short: bind in the scratch folder, then move the socket into the tree.
    const std::string socketPath = root_ + "/s";
    Fd sock(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(sock.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::rename(socketPath.c_str(), (app + "/socket").c_str()), 0);
    // An endless device: reading it would never finish.
    if (::geteuid() == 0) ::mknod((app + "/zero").c_str(), S_IFCHR | 0644, ::makedev(1, 5));

    const ChildOutcome outcome = runInChild(
        [&] {
            const std::string fifoSize = std::to_string(itemSize(fifoPath));
            return fifoSize + " " + measureThenDelete(app, {app, fifoPath});
        },
        30);
    ASSERT_TRUE(outcome.exitedNormally)
        << "measuring or deleting hung or crashed, signal " << outcome.signal;
    EXPECT_EQ(outcome.output, "0 " + figures(bytes, bytes, false));
    EXPECT_FALSE(exists(app));
    EXPECT_FALSE(exists(fifoPath));
}

TEST_F(AdversarialTree, AwkwardNamesAreMeasuredAndRemoved) {
    const std::vector<std::string> names = {"line\nbreak",
                                            "\xff\xfe invalid utf-8",
                                            "-rf",
                                            " leading space",
                                            "trailing space ",
                                            "*",
                                            "?",
                                            "[ab]",
                                            "back\\slash",
                                            "...",
                                            "tab\there",
                                            "\x01\x1b[31m",
                                            "\xc3\xbcml\xc3\xa4ut",
                                            std::string(255, 'n')};
    const std::string app = cacheFolder("names\nwith a newline");
    std::int64_t bytes = 0;
    std::int64_t size = 1;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        bytes += writeFile(app + "/" + name, size++);
        bytes += writeFile(app + "/d" + name.substr(0, 200) + "/" + name, size++);
    }
    EXPECT_EQ(measureThenDelete(app, {app}), figures(bytes, bytes, false));
    EXPECT_FALSE(exists(app));
}

TEST_F(AdversarialTree, FolderWithAHundredThousandEntries) {
    const std::string app = cacheFolder("wide");
    Fd dir(::open(app.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(dir.valid());
    constexpr int kEntries = 100'000;
    std::int64_t bytes = 0;
    for (int i = 0; i < kEntries; ++i) {
        const std::int64_t written = writeFileAt(dir.get(), "entry-" + std::to_string(i), i % 7);
        ASSERT_EQ(written, i % 7);
        bytes += written;
    }
    EXPECT_EQ(measureThenDelete(app, {app}), figures(bytes, bytes, false));
    EXPECT_FALSE(exists(app));
}

TEST_F(AdversarialTree, PathLongerThanPathMax) {
    const std::string app = cacheFolder("long");
    std::int64_t bytes = 0;
    std::size_t depthChars = app.size();
    Fd dir(::open(app.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int level = 0; level < 25; ++level) {
        const std::string name = std::string(240, 'a' + level % 26);
        ASSERT_EQ(::mkdirat(dir.get(), name.c_str(), 0755), 0);
        bytes += writeFileAt(dir.get(), "f" + std::to_string(level), 10 + level);
        dir = Fd(::openat(dir.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ASSERT_TRUE(dir.valid());
        depthChars += name.size() + 1;
    }
    bytes += writeFileAt(dir.get(), "bottom", 4096);
    dir = Fd();
    ASSERT_GT(depthChars, static_cast<std::size_t>(PATH_MAX));

    EXPECT_EQ(measureThenDelete(app, {app}), figures(bytes, bytes, false));
    EXPECT_FALSE(exists(app));
}

bool lowerDescriptorLimit() {
    const rlimit limit{64, 64};
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

TEST_F(AdversarialTree, ThreeThousandLevelsWithSixtyFourDescriptors) {
    const std::string app = cacheFolder("deep");
    ASSERT_EQ(makeDeepChain(app, 3000), 3000);
    const ChildOutcome outcome = runInChild(
        [&] {
            if (!lowerDescriptorLimit()) return std::string("no rlimit");
            return measureThenDelete(app, {app});
        },
        120);
    ASSERT_TRUE(outcome.exitedNormally) << "signal " << outcome.signal;
    EXPECT_EQ(outcome.output, figures(3000, 3000, false));
    EXPECT_FALSE(exists(app));
}

// Halfway down a deep chain, the folder being emptied is moved out of the cache. Coming back up
// through ".." then reaches the scratch folder instead of the folder the walk came down through:
// that part is given up and the removal fails. The move happens on the folder's second visit
// (files go in a first pass, folders in a second), when the walk goes down and up level by level.
TEST_F(AdversarialTree, DeepWayBackUpThatLeadsElsewhereIsNotTaken) {
    const std::string app = cacheFolder("deep");
    ASSERT_EQ(makeDeepChain(app, 3000), 3000);
    std::string halfway = app;
    for (int i = 0; i < 1500; ++i) halfway += "/d";
    struct stat st {};
    ASSERT_EQ(::stat(halfway.c_str(), &st), 0);
    const ino_t moved = st.st_ino;
    const std::string parked = root_ + "/parked";
    const ChildOutcome outcome = runInChild([&] {
        if (!lowerDescriptorLimit()) return std::string("no rlimit");
        int visits = 0;
        bool movedAway = false;
        DeletionHooks hooks;
        hooks.beforeDescend = [&](int parentFd, const char*) {
            struct stat parent {};
            if (::fstat(parentFd, &parent) != 0 || parent.st_ino != moved || ++visits != 2) return;
            Fd grandParent(::openat(parentFd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            movedAway = ::renameat(grandParent.get(), "d", AT_FDCWD, parked.c_str()) == 0;
        };
        const bool failed = deleteCachePaths({app}, hooks).anyFailed;
        return std::string(movedAway ? "moved" : "not moved") + (failed ? " failed" : " ok");
    });
    EXPECT_EQ(outcome.output, "moved failed");
    EXPECT_TRUE(exists(parked));
    EXPECT_TRUE(exists(app + "/d"));
}

TEST_F(AdversarialTree, UnreadableAndReadOnlyFoldersAsAnOrdinaryUser) {
    const bool root = ::geteuid() == 0;
    const std::string locked = cacheFolder("locked");
    writeFile(locked + "/ok.bin", 100);
    makeDirs(locked + "/sealed");
    writeFile(locked + "/sealed/secret.bin", 200);
    const std::string readOnly = cacheFolder("readonly");
    makeDirs(readOnly + "/ro");
    writeFile(readOnly + "/ro/f1", 300);
    writeFile(readOnly + "/ro/f2", 400);
    const std::string plain = cacheFolder("plain");
    const std::int64_t plainBytes = writeFile(plain + "/c.bin", 500);
    const std::string emptySealed = cacheFolder("empty-sealed");

    // The decoys belong to the same user, so only the program's care keeps them intact.
    if (root) chownTree(root_, kNobodyUid, kNobodyGid);
    ASSERT_EQ(::chmod((locked + "/sealed").c_str(), 0000), 0);
    ASSERT_EQ(::chmod((readOnly + "/ro").c_str(), 0500), 0);
    ASSERT_EQ(::chmod(emptySealed.c_str(), 0000), 0);
    before_ = decoys();

    const ChildOutcome outcome = runInChild([&] {
        if (root && !dropPrivileges()) return std::string("cannot drop privileges");
        const std::string clean =
            measureThenDelete(readOnly, {locked, readOnly, plain, emptySealed});
        return clean + " " + std::to_string(itemSize(locked));
    });
    ASSERT_TRUE(outcome.exitedNormally) << "signal " << outcome.signal;
    // A read-only folder's files still count; failed paths add nothing to what was freed; what
    // is left of the locked folder is its unreadable part.
    EXPECT_EQ(outcome.output, figures(700, plainBytes, true) + " 0");
    EXPECT_FALSE(exists(locked + "/ok.bin")) << "removable siblings of a locked folder go";
    // Open the sealed folder again so that the checks below can look inside as its owner.
    ::chmod((locked + "/sealed").c_str(), 0700);
    EXPECT_TRUE(exists(locked + "/sealed/secret.bin"));
    EXPECT_TRUE(exists(readOnly + "/ro/f1"));
    EXPECT_TRUE(exists(readOnly + "/ro/f2"));
    EXPECT_FALSE(exists(plain));
    EXPECT_FALSE(exists(emptySealed)) << "an empty folder goes even when it cannot be listed";
}

TEST_F(AdversarialTree, BindAndTmpfsMountsInsideACacheFolder) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root (in a private mount namespace)";
    const std::string app = cacheFolder("mounted");
    writeFile(app + "/a.bin", 100);
    makeDirs(app + "/sub/bound");
    makeDirs(app + "/sub/scratch");

    const ChildOutcome outcome = runInChild([&] {
        if (::unshare(CLONE_NEWNS) != 0) return std::string("skip: unshare refused");
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return std::string("skip: cannot make mounts private");
        }
        if (::mount(decoy_.c_str(), (app + "/sub/bound").c_str(), nullptr, MS_BIND, nullptr) != 0) {
            return std::string("skip: bind mount refused");
        }
        if (::mount("tmpfs", (app + "/sub/scratch").c_str(), "tmpfs", 0, "size=1m") != 0) {
            return std::string("skip: tmpfs mount refused");
        }
        writeFile(app + "/sub/scratch/t.bin", 50);
        const DeleteResult result = deleteCachePaths({app});
        return figures(0, result.freed, result.anyFailed);
    });
    ASSERT_TRUE(outcome.exitedNormally) << "signal " << outcome.signal;
    if (outcome.output.starts_with("skip:")) GTEST_SKIP() << outcome.output;
    // Mount points cannot be removed, so the path fails as a whole and adds nothing.
    EXPECT_EQ(outcome.output, figures(0, 0, true));
}

// A folder is replaced by a link to the decoy just before the removal opens it, as another
// process racing the clean could do. The folder moved away must survive as well.
TEST_F(AdversarialTree, FolderSwappedForALinkDuringTheRemoval) {
    struct Case {
        const char* swapped;  // the folder's name; the cache path itself at depth 0
        int depth;
    };
    for (const Case& c : {Case{"swap0", 0}, Case{"level1", 1}, Case{"level2", 2}}) {
        SCOPED_TRACE(c.swapped);
        const std::string app = cacheFolder("swap0");
        std::int64_t total = writeFile(app + "/top.bin", 1000);
        makeDirs(app + "/level1/level2");
        total += writeFile(app + "/level1/one.bin", 200);
        total += writeFile(app + "/level1/level2/two.bin", 30);
        const std::int64_t movedBytes = c.depth == 0 ? total : c.depth == 1 ? 230 : 30;
        const std::string movedTo = root_ + "/moved-away";

        std::atomic<bool> swapped{false};
        DeletionHooks hooks;
        hooks.beforeDescend = [&](int parentFd, const char* name) {
            if (std::strcmp(name, c.swapped) != 0 || swapped.exchange(true)) return;
            if (::renameat(parentFd, name, AT_FDCWD, movedTo.c_str()) == 0) {
                (void)::symlinkat(decoy_.c_str(), parentFd, name);
            }
        };
        const DeleteResult result = deleteCachePaths({app}, hooks);
        ASSERT_TRUE(swapped.load()) << "the hook never saw the folder";
        EXPECT_EQ(result.freed, total - movedBytes) << "only what was really removed counts";
        EXPECT_FALSE(result.anyFailed);
        EXPECT_FALSE(exists(app));
        EXPECT_EQ(itemSize(movedTo), movedBytes) << "the folder moved away lost files";
        removeTree(movedTo);
        removeTree(app);
    }
}

}  // namespace
}  // namespace sweepkin::hardening
