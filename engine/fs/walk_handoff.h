#pragma once
// How a walk shares its work with one helper thread: a small bounded queue of folders (and
// batches of a large folder's listing) handed over while the other walker has room, and the
// bookkeeping that tells both when the walk is done.

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/fs/unique_fd.h"

namespace sweepkin {

// A folder's identity as the walk checks it: device and inode, and the mount id where the kernel
// gives one.
struct WalkIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    std::uint64_t mountId = 0;
    bool hasMountId = false;
};

// One unit of work: a whole folder, or a batch of entries already listed from a large folder.
struct WalkTask {
    UniqueFd dir;
    WalkIdentity id;
    std::vector<char> batch;  // listing bytes (getdents64 records); empty for a whole folder
    std::size_t batchLength = 0;
};

class WalkHandOff {
  public:
    using Run = std::function<void(WalkTask&)>;

    // `helperMain` is what the helper thread runs, once it is worth starting: it makes a walker of
    // its own and passes it to workLoop.
    WalkHandOff(bool parallel, std::function<void()> helperMain)
        : parallel_(parallel), helperMain_(std::move(helperMain)) {}
    ~WalkHandOff() {
        if (helper_.joinable()) helper_.join();
    }
    WalkHandOff(const WalkHandOff&) = delete;
    WalkHandOff& operator=(const WalkHandOff&) = delete;

    void noteListed(std::size_t n) {
        if (parallel_) listed_.fetch_add(n, std::memory_order_relaxed);
    }

    // Hands a subfolder to the other walker when the queue has room. On refusal the task is
    // left untouched.
    bool offerFolder(WalkTask& task) { return offer(task, false); }
    // Hands a batch of a large folder's entries over, but only to a walker that is idle.
    bool offerBatch(WalkTask& task) { return offer(task, true); }

    // The calling thread's own first task is done; keep helping (with `run`) until the walk is
    // finished, and wait for the helper.
    void finishMainTask(const Run& run);
    // Takes tasks from the queue and runs them until none is left and no walker is busy.
    void workLoop(const Run& run);

  private:
    bool offer(WalkTask& task, bool onlyWhenIdle);

    const bool parallel_;
    const std::function<void()> helperMain_;
    std::atomic<std::uint64_t> listed_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<WalkTask> queue_;
    int busy_ = 1;  // the caller's thread starts busy with the root
    int waiting_ = 0;
    bool helperStarted_ = false;
    std::thread helper_;
};

}  // namespace sweepkin
