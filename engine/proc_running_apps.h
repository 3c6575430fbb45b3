#pragma once
// Linux registry: the current user's processes in /proc, matched by executable name, path or
// Flatpak sandbox.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/running_apps.h"

namespace sweepkin {

// How the processes of one application are recognised; any one entry is enough.
struct ProcessRule {
    std::vector<std::string> names{};       // the executable's file name, wherever it lies
    std::vector<std::string> paths{};       // the executable's full path; "*" matches one component
    std::vector<std::string> flatpakIDs{};  // the app id of the Flatpak sandbox it runs in
};

// Process rules per bundle identifier.
using ProcessRules = std::map<std::string, ProcessRule>;

// The built-in table (Chrome, Chromium, Firefox, Edge, Code, Slack, Spotify, Claude; Safari has
// none on Linux). "chrome" is the executable's name in both Chrome and Chromium's snap and
// Flatpak, so those two are told apart only by path and sandbox.
const ProcessRules& builtInProcessRules();

class ProcRunningApps : public RunningApps {
  public:
    ProcRunningApps();
    // `extraRules` adds entries to (or replaces entries of) the built-in table. Every path rule
    // is looked up below `pathRoot` (tests place stand-in executables in a scratch folder).
    explicit ProcRunningApps(const ProcessRules& extraRules, const std::string& pathRoot = {});
    ~ProcRunningApps() override;

    ProcRunningApps(const ProcRunningApps&) = delete;
    ProcRunningApps& operator=(const ProcRunningApps&) = delete;

    // The main processes (no "--type=" or "-contentproc" helpers) of the current user that the
    // identifier's rule recognises. Each carries a pidfd opened for exactly that process, kept by
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

    ProcessRules rules_;
    std::mutex mutex_;
    std::vector<Tracked> tracked_;  // pidfds owned here, closed in the destructor
};

}  // namespace sweepkin
