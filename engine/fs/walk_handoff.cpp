#include "engine/fs/walk_handoff.h"

#include <system_error>

namespace sweepkin {

namespace {

constexpr std::size_t kQueueCapacity = 8;
// Small folders are not worth a thread: the helper starts once this much listing was read.
constexpr std::uint64_t kListingBytesBeforeHelper = 64 * 1024;

}  // namespace

bool WalkHandOff::offer(WalkTask& task, bool onlyWhenIdle) {
    if (!parallel_) return false;
    std::lock_guard lock(mutex_);
    if (queue_.size() >= kQueueCapacity) return false;
    if (!helperStarted_) {
        if (listed_.load(std::memory_order_relaxed) < kListingBytesBeforeHelper) return false;
        helperStarted_ = true;
        try {
            helper_ = std::thread(helperMain_);
        } catch (const std::system_error&) {
            return false;  // no second thread to be had: the walk stays on this one
        }
    } else if (onlyWhenIdle && (waiting_ == 0 || !queue_.empty())) {
        return false;
    }
    queue_.push_back(std::move(task));
    wake_.notify_one();
    return true;
}

void WalkHandOff::workLoop(const Run& run) {
    for (;;) {
        WalkTask task;
        {
            std::unique_lock lock(mutex_);
            ++waiting_;
            wake_.wait(lock, [this] { return !queue_.empty() || busy_ == 0; });
            --waiting_;
            if (queue_.empty()) {
                wake_.notify_all();
                return;
            }
            task = std::move(queue_.back());
            queue_.pop_back();
            ++busy_;
        }
        run(task);
        {
            std::lock_guard lock(mutex_);
            if (--busy_ == 0 && queue_.empty()) wake_.notify_all();
        }
    }
}

void WalkHandOff::finishMainTask(const Run& run) {
    {
        std::lock_guard lock(mutex_);
        if (--busy_ == 0 && queue_.empty()) wake_.notify_all();
    }
    if (!parallel_) return;
    workLoop(run);
    if (helper_.joinable()) helper_.join();
}

}  // namespace sweepkin
