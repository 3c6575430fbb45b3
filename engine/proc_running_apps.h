#pragma once
// Linux registry: the current user's processes in /proc, matched by executable name.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/running_apps.h"

namespace sweepkin {

// Executable names per bundle identifier.
using ExecutableNames = std::map<std::string, std::vector<std::string>>;

// The built-in table (Chrome, Edge, Code, Slack, Spotify, Claude; Safari has none on Linux).
const ExecutableNames& builtInExecutableNames();

class ProcRunningApps : public RunningApps {
  public:
    ProcRunningApps();
    // `extraNames` adds names to (or replaces entries of) the built-in table.
    explicit ProcRunningApps(const ExecutableNames& extraNames);
    ~ProcRunningApps() override;

    ProcRunningApps(const ProcRunningApps&) = delete;
    ProcRunningApps& operator=(const ProcRunningApps&) = delete;

    // The main processes (no "--type=" helpers) of the current user whose executable name is one
    // of the identifier's names. Each carries a pidfd opened for exactly that process, kept by
    // this registry until the process is no longer listed.
    std::vector<AppInstance> instances(const std::string& bundleID) override;

    // SIGTERM through the instance's pidfd, only for a pidfd this registry handed out.
    void requestQuit(const AppInstance& instance) override;

  private:
    struct Tracked {
        int pid = 0;
        std::uint64_t startTime = 0;
        int pidfd = -1;
    };

    void pruneExited();  // with mutex_ held

    ExecutableNames names_;
    std::mutex mutex_;
    std::vector<Tracked> tracked_;  // pidfds owned here, closed in the destructor
};

}  // namespace sweepkin
