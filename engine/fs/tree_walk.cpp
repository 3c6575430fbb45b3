#include "engine/fs/tree_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "engine/fs/mounts.h"
#include "engine/fs/owner_rights.h"
#include "engine/fs/ownership.h"
#include "engine/fs/unique_fd.h"
#include "engine/fs/walk_handoff.h"

namespace sweepkin {

namespace {

constexpr std::size_t kBufferSize = 32 * 1024;
// Descriptors a walker keeps open besides its root; deeper ancestors are closed and re-opened
// on the way back up. With two walkers and a full queue the whole walk stays below ~30.
constexpr std::size_t kOpenWindow = 6;

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

using Identity = WalkIdentity;
using Task = WalkTask;

constexpr unsigned kStatxMask = STATX_TYPE | STATX_MODE | STATX_UID | STATX_GID | STATX_INO |
                                STATX_SIZE | STATX_BLOCKS | STATX_MNT_ID;

// The parts of a statx result the walk uses, as a stat.
struct stat asStat(const struct statx& sx) {
    struct stat st {};
    st.st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    st.st_ino = sx.stx_ino;
    st.st_mode = sx.stx_mode;
    st.st_nlink = sx.stx_nlink;
    st.st_uid = sx.stx_uid;
    st.st_gid = sx.stx_gid;
    st.st_size = static_cast<off_t>(sx.stx_size);
    st.st_blocks = static_cast<blkcnt_t>(sx.stx_blocks);
    return st;
}

Identity identityOf(const struct statx& sx) {
    return {makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino, sx.stx_mnt_id,
            (sx.stx_mask & STATX_MNT_ID) != 0};
}

// Identity of an open folder; false when it cannot be read or is not a folder.
bool identify(int fd, Identity& out, struct stat* status = nullptr) {
    struct statx sx;
    if (::statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, kStatxMask, &sx) == 0) {
        out = identityOf(sx);
        if (status != nullptr) *status = asStat(sx);
        return S_ISDIR(sx.stx_mode);
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    out = {st.st_dev, st.st_ino, 0, false};
    if (status != nullptr) *status = st;
    return S_ISDIR(st.st_mode);
}

bool sameMount(const Identity& a, const Identity& b) {
    return sweepkin::sameMount(MountOf{a.dev, a.mountId, a.hasMountId},
                               MountOf{b.dev, b.mountId, b.hasMountId});
}

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

class Walker;

// State shared by the walkers of one walk.
class Shared {
    LinkTally ownLinks_;  // when the caller keeps no tally of its own

  public:
    Shared(WalkMode mode, const Identity& root, int maxThreads, const DescendHook* hook,
           LinkTally* links);

    const WalkMode mode;
    const Identity root;
    const DescendHook* const hook;
    const UserIds ids = startupUserIds();  // read once, at start-up
    LinkTally& links;
    std::atomic<std::int64_t> bytes{0};
    std::atomic<Failure> failure{Failure::None};
    WalkHandOff handOff;  // last: its helper thread is joined before the rest goes
};

// Walks tasks depth-first with a bounded number of open descriptors.
class Walker {
  public:
    explicit Walker(Shared& shared) : shared_(shared) {}
    ~Walker() { flush(); }

    void run(Task& task);

  private:
    struct Frame {
        UniqueFd fd;  // closed while the frame is outside the open window
        dev_t dev = 0;
        ino_t ino = 0;
        off_t resume = 0;  // position after the last entry taken; used after re-opening
        std::string name;  // name in the parent folder
        std::vector<char> buffer;
        std::size_t pos = 0;
        std::size_t length = 0;
        bool fixedListing = false;  // a batch: nothing more to read
        bool reopened = false;
        std::size_t removed = 0;  // entries removed from this folder in the current pass
    };

    const dirent64* next(Frame& frame);
    void handle(const dirent64* entry);
    void descend(const char* name);
    UniqueFd openLocked(int parentFd, const char* name);
    void finishFrame();
    void closeFrame(Frame& frame);
    std::vector<char> takeBuffer();
    void recycle(Frame& frame);
    void flush();
    bool removing() const { return shared_.mode != WalkMode::Measure; }

    Shared& shared_;
    std::vector<Frame> stack_;
    std::vector<std::vector<char>> spareBuffers_;
    std::size_t lowestOpen_ = 1;  // frames [lowestOpen_, top] and the root hold descriptors
    void fail(Failure failure) {
        if (failure_ == Failure::None) failure_ = failure;
    }

    std::int64_t bytes_ = 0;
    Failure failure_ = Failure::None;
};

Shared::Shared(WalkMode mode, const Identity& root, int maxThreads, const DescendHook* hook,
               LinkTally* links)
    : mode(mode),
      root(root),
      hook(hook),
      links(links != nullptr ? *links : ownLinks_),
      handOff(maxThreads > 1, [this] {
          Walker walker(*this);
          handOff.workLoop([&](Task& task) { walker.run(task); });
      }) {}

void Walker::run(Task& task) {
    Frame root;
    root.fd = std::move(task.dir);
    root.dev = task.id.dev;
    root.ino = task.id.ino;
    if (!task.batch.empty()) {
        root.buffer = std::move(task.batch);
        root.length = task.batchLength;
        root.fixedListing = true;
    } else {
        root.buffer = takeBuffer();
    }
    stack_.push_back(std::move(root));
    lowestOpen_ = 1;

    while (!stack_.empty()) {
        const dirent64* entry = next(stack_.back());
        if (entry == nullptr) {
            finishFrame();
        } else {
            handle(entry);
        }
    }
    flush();
}

void Walker::flush() {
    std::int64_t total = shared_.bytes.load(std::memory_order_relaxed);
    while (bytes_ != 0 && !shared_.bytes.compare_exchange_weak(total, addBytes(total, bytes_),
                                                               std::memory_order_relaxed)) {
    }
    Failure none = Failure::None;
    if (failure_ != Failure::None) {
        shared_.failure.compare_exchange_strong(none, failure_, std::memory_order_relaxed);
    }
    bytes_ = 0;
    failure_ = Failure::None;
}

std::vector<char> Walker::takeBuffer() {
    if (spareBuffers_.empty()) return std::vector<char>(kBufferSize);
    std::vector<char> buffer = std::move(spareBuffers_.back());
    spareBuffers_.pop_back();
    buffer.resize(kBufferSize);
    return buffer;
}

void Walker::recycle(Frame& frame) {
    frame.fd.reset();
    if (frame.buffer.capacity() >= kBufferSize && spareBuffers_.size() < kOpenWindow + 2) {
        spareBuffers_.push_back(std::move(frame.buffer));
    }
    frame.buffer = {};
    frame.pos = frame.length = 0;
}

void Walker::closeFrame(Frame& frame) {
    recycle(frame);
}

const dirent64* Walker::next(Frame& frame) {
    for (;;) {
        while (frame.pos < frame.length) {
            const auto* entry = reinterpret_cast<const dirent64*>(frame.buffer.data() + frame.pos);
            frame.pos += entry->d_reclen;
            frame.resume = entry->d_off;
            if (!isDotOrDotDot(entry->d_name)) return entry;
        }
        if (frame.fixedListing) return nullptr;
        ssize_t n = ::getdents64(frame.fd.get(), frame.buffer.data(), frame.buffer.size());
        if (n <= 0) {
            // A folder that cannot be listed is passed over when measuring; when removing, the
            // removal of the folder itself will fail and say so.
            if (n < 0 && shared_.mode == WalkMode::RemoveAll) fail(failureOf(errno));
            return nullptr;
        }
        frame.pos = 0;
        frame.length = static_cast<std::size_t>(n);
        shared_.handOff.noteListed(frame.length);

        // A large flat folder only keeps two threads busy when its listing is split up.
        if (shared_.mode != WalkMode::RemoveAll && frame.length > kBufferSize / 2) {
            Task batch;
            batch.dir.reset(::fcntl(frame.fd.get(), F_DUPFD_CLOEXEC, 0));
            if (batch.dir) {
                batch.id = {frame.dev, frame.ino, 0, false};
                batch.batch = std::move(frame.buffer);
                batch.batchLength = frame.length;
                if (shared_.handOff.offerBatch(batch)) {
                    frame.buffer = takeBuffer();
                    frame.length = 0;
                    continue;
                }
                frame.buffer = std::move(batch.batch);
            }
        }
    }
}

void Walker::handle(const dirent64* entry) {
    const char* name = entry->d_name;
    const int dirFd = stack_.back().fd.get();
    unsigned char type = entry->d_type;
    struct statx sx;
    bool haveStat = false;
    if (type == DT_UNKNOWN) {
        if (::statx(dirFd, name, AT_SYMLINK_NOFOLLOW, kStatxMask, &sx) != 0) return;
        haveStat = true;
        type = IFTODT(sx.stx_mode);
    }
    if (type == DT_DIR) {
        descend(name);
        return;
    }

    // Every kind of entry by the same rules: a fifo, socket, device or link too.
    if (!haveStat && ::statx(dirFd, name, AT_SYMLINK_NOFOLLOW, kStatxMask, &sx) != 0) return;
    if (!sameMount(identityOf(sx), shared_.root)) {
        // A file mounted here from elsewhere is not the cache's: neither counted nor removed.
        if (removing()) fail(Failure::Mounted);
        return;
    }
    const struct stat st = asStat(sx);
    if (whoseEntry(-1, st, shared_.ids) != Whose::Users) {
        if (removing()) fail(Failure::OthersFiles);
        return;
    }
    // A name counts once it went (or, measuring, is met); which one frees the bytes of a file
    // with several names is the tally's to say.
    if (!removing()) {
        bytes_ = addBytes(bytes_, shared_.links.meet(st));
        return;
    }
    if (::unlinkat(dirFd, name, 0) == 0) {
        bytes_ = addBytes(bytes_, shared_.links.meet(st));
        ++stack_.back().removed;
        return;
    }
    if (errno == ENOENT) return;
    if (errno == EISDIR) {  // replaced by a folder since it was listed
        descend(name);
        return;
    }
    fail(failureOf(errno));
}

void Walker::descend(const char* name) {
    const int parentFd = stack_.back().fd.get();
    if (shared_.hook != nullptr && *shared_.hook) (*shared_.hook)(parentFd, name);

    UniqueFd child(::openat(parentFd, name, kDirFlags));
    if (!child && errno == EACCES && removing()) child = openLocked(parentFd, name);
    if (!child) {
        const int error = errno;
        if (error == ENOENT || !removing()) return;  // unreadable folders count nothing
        if (error == ELOOP || error == ENOTDIR) {
            // No longer a folder (a link, say, swapped in since the listing): remove the entry
            // itself, never what it points to.
            if (::unlinkat(parentFd, name, 0) == 0) {
                ++stack_.back().removed;
                return;
            }
            if (errno == ENOENT) return;
        } else if (shared_.mode == WalkMode::RemoveAll) {
            // A folder we may not list can still be removed if it is empty.
            if (::unlinkat(parentFd, name, AT_REMOVEDIR) == 0) {
                ++stack_.back().removed;
                return;
            }
            if (errno == ENOENT) return;
            // Not empty: why it could not be listed is why it stays.
            if (errno == ENOTEMPTY || errno == EEXIST) errno = error;
        } else {
            return;  // the removal pass that follows tries again and reports
        }
        fail(failureOf(errno));
        return;
    }

    Identity id;
    struct stat st;
    if (!identify(child.get(), id, &st) || !sameMount(id, shared_.root)) {
        // Another file system mounted inside the cache: left alone, so its folder stays.
        if (removing()) fail(Failure::Mounted);
        return;
    }
    if (const Whose whose = whoseEntry(child.get(), st, shared_.ids); whose != Whose::Users) {
        // Another user may move anything of theirs in here at any moment.
        if (removing())
            fail(whose == Whose::OthersMayChange ? Failure::Shared : Failure::OthersFiles);
        return;
    }
    // Read-only on purpose: emptied all the same, once its owner may change it again.
    if (removing() && lacksOwnerRights(st, shared_.ids)) giveOwnerRights(child.get(), st);

    if (shared_.mode != WalkMode::RemoveAll) {
        Task task;
        task.dir = std::move(child);
        task.id = id;
        if (shared_.handOff.offerFolder(task)) return;
        child = std::move(task.dir);
    }

    Frame frame;
    frame.fd = std::move(child);
    frame.dev = id.dev;
    frame.ino = id.ino;
    frame.name = name;
    frame.buffer = takeBuffer();
    stack_.push_back(std::move(frame));
    const std::size_t top = stack_.size() - 1;
    while (top >= lowestOpen_ + kOpenWindow) {
        closeFrame(stack_[lowestOpen_]);
        ++lowestOpen_;
    }
}

UniqueFd Walker::openLocked(int parentFd, const char* name) {
    // A folder even its owner may not list: held without reading it, its rights given back only
    // when it is the user's own on this file system and nobody else may change it, then opened
    // through that same descriptor.
    UniqueFd held(::openat(parentFd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    Identity id;
    struct stat st;
    if (held && identify(held.get(), id, &st) && sameMount(id, shared_.root) &&
        lacksOwnerRights(st, shared_.ids) && !othersMayRename(held.get(), st, shared_.ids) &&
        giveOwnerRights(held.get(), st)) {
        return UniqueFd(::openat(held.get(), ".", kDirFlags));
    }
    errno = EACCES;
    return {};
}

void Walker::finishFrame() {
    Frame& frame = stack_.back();
    if (shared_.mode == WalkMode::RemoveAll && frame.reopened && frame.removed > 0 &&
        !frame.fixedListing) {
        // After resuming at a remembered position, entries may have moved on file systems whose
        // positions are indexes; one more pass from the start picks them up. Each extra pass
        // must remove something, so this ends.
        if (::lseek(frame.fd.get(), 0, SEEK_SET) == 0) {
            frame.pos = frame.length = 0;
            frame.reopened = false;
            frame.removed = 0;
            return;
        }
    }
    if (stack_.size() == 1) {
        recycle(frame);
        stack_.pop_back();
        return;
    }

    Frame child = std::move(stack_.back());
    stack_.pop_back();
    Frame& parent = stack_.back();
    if (!parent.fd) {
        UniqueFd up(::openat(child.fd.get(), "..", kDirFlags));
        struct stat st;
        bool verified = up && ::fstat(up.get(), &st) == 0 && st.st_dev == parent.dev &&
                        st.st_ino == parent.ino && ::lseek(up.get(), parent.resume, SEEK_SET) >= 0;
        if (!verified) {
            // The tree was moved under us: the way up is not the way we came down. Give up on
            // this part and carry on from the nearest ancestor still held open.
            if (removing()) fail(Failure::InUse);
            recycle(child);
            while (!stack_.back().fd) {
                recycle(stack_.back());
                stack_.pop_back();
            }
            lowestOpen_ = std::max<std::size_t>(1, std::min(lowestOpen_, stack_.size() - 1));
            return;
        }
        parent.fd = std::move(up);
        parent.buffer = takeBuffer();
        parent.pos = parent.length = 0;
        parent.reopened = true;
        lowestOpen_ = stack_.size() - 1;
    }
    child.fd.reset();
    if (shared_.mode == WalkMode::RemoveAll) {
        if (::unlinkat(parent.fd.get(), child.name.c_str(), AT_REMOVEDIR) == 0) {
            ++parent.removed;
        } else if (errno != ENOENT) {
            fail(failureOf(errno));
        }
    }
    recycle(child);
}

}  // namespace

WalkResult walkTree(int dirFd, WalkMode mode, int maxThreads, const DescendHook* hook,
                    LinkTally* links) {
    Task task;
    // A descriptor of its own: a duplicate would share (and move) the caller's listing position.
    task.dir.reset(::openat(dirFd, ".", kDirFlags));
    struct stat st;
    if (!task.dir || !identify(task.dir.get(), task.id, &st)) {
        if (mode == WalkMode::Measure) return {};
        return {0, true, task.dir ? Failure::Other : failureOf(errno)};
    }
    const int threads = mode == WalkMode::RemoveAll ? 1 : std::clamp(maxThreads, 1, 2);
    Shared shared(mode, task.id, threads, hook, links);
    if (mode != WalkMode::Measure && lacksOwnerRights(st, shared.ids)) {
        giveOwnerRights(task.dir.get(), st);
    }
    {
        Walker walker(shared);
        walker.run(task);
        shared.handOff.finishMainTask([&](Task& next) { walker.run(next); });
    }
    const Failure failure = shared.failure.load();
    return {shared.bytes.load(), failure != Failure::None, failure};
}

}  // namespace sweepkin
