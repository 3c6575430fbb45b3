#pragma once
// Linux registry: the current user's processes in /proc, matched by executable name, path or
// Flatpak sandbox, or by the folders they hold.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/catalogue/process_rule.h"
#include "engine/procs/running_apps.h"

namespace sweepkin {

class ProcRunningApps : public RunningApps {
  public:
    // Recognises the applications by `rules` (the catalogue's: processRulesOf). Every path rule
    // ("~/" is the home) is looked up below `pathRoot` (tests place stand-ins in a scratch folder).
    explicit ProcRunningApps(ProcessRules rules, const std::string& pathRoot = {});
    ~ProcRunningApps() override;

    ProcRunningApps(const ProcRunningApps&) = delete;
    ProcRunningApps& operator=(const ProcRunningApps&) = delete;

    // The main processes (no "--type=" or "-contentproc" helpers) of the current user that the
    // identifier's rule recognises. Each carries a pidfd opened for exactly that process, kept by
    // this registry until the process is no longer listed.
    std::vector<AppInstance> instances(const std::string& bundleID) override;

    // The user's own main processes (real uid) whose working folder or an open file is at or
    // below one of a list's folders, from the links of /proc/PID/cwd and /proc/PID/fd only; a
    // helper's hold is its main process's. Tracked like the instances above.
    std::vector<std::vector<AppInstance>> holders(
        const std::vector<std::vector<std::string>>& folderLists) override;

    // SIGTERM through the instance's pidfd, only for a pidfd this registry handed out.
    void requestQuit(const AppInstance& instance) override;

  private:
    struct Tracked {
        int pid = 0;
        std::uint64_t startTime = 0;
        int pidfd = -1;
    };

    void pruneExited();  // with mutex_ held
    // The record of the process `pid` started at `started`, with a pidfd opened for it unless
    // it has gone; with mutex_ held.
    std::optional<AppInstance> track(int pid, std::uint64_t started);

    ProcessRules rules_;
    std::mutex mutex_;
    std::vector<Tracked> tracked_;  // pidfds owned here, closed in the destructor
};

}  // namespace sweepkin
