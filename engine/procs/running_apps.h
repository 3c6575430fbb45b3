#pragma once
// Closing running applications before their caches are removed.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "engine/catalogue/app_target.h"

namespace sweepkin {

class Resolver;

struct AppInstance {
    int pid = 0;
    int pidfd = -1;  // where the kernel offers one; owned by the registry that listed it
};

// How one application's processes are told: by its bundle identifier's rules, and by what they
// hold. A process with a file open, or its working folder, at or below one of `folders` counts
// as the application wherever its executable lies (an AppImage, a tarball in ~/Applications).
struct AppProcesses {
    std::string bundleID;
    std::vector<std::string> folders{};  // absolute texts
};

// The operations the logic needs from the platform's running-application registry.
class RunningApps {
  public:
    virtual ~RunningApps() = default;
    // The running main instances of the application with this bundle identifier.
    virtual std::vector<AppInstance> instances(const std::string& bundleID) = 0;
    // For each list of folders, the user's own main processes that hold something at or below
    // one of them, all lists answered from one look at the processes. None where the platform
    // cannot tell.
    virtual std::vector<std::vector<AppInstance>> holders(
        const std::vector<std::vector<std::string>>& folderLists) {
        return std::vector<std::vector<AppInstance>>(folderLists.size());
    }
    // Asks one instance to quit normally; never kills it. The result is not reported.
    virtual void requestQuit(const AppInstance& instance) = 0;
};

// The folders whose holder is the target's application: the items its locations name and each
// location's own folder (never a root itself), as the resolver reaches them and as the kernel
// names them. For a target with no application to close (a tool) only the items: a tool's own
// folder holds more than its caches, and a shell standing in it is not the tool; a process
// holding an item (a build daemon working there, an IDE's open index, a lock held open) means
// the cache is in use.
std::vector<std::string> heldFolders(Resolver& resolver, const AppTarget& target);

// What `apps` lists for each application, by its rules and by what is held, each process once.
std::vector<std::vector<AppInstance>> runningInstances(RunningApps& apps,
                                                       const std::vector<AppProcesses>& list);
std::vector<AppInstance> runningInstances(RunningApps& apps, const AppProcesses& app);

using Sleeper = std::function<void(std::chrono::milliseconds)>;

// Asks every running instance to quit, then checks at most 10 times, 0.5 s apart, whether any
// is left; returns as soon as none is.
void closeApp(const AppProcesses& app, RunningApps& apps, const Sleeper& sleep = {});

}  // namespace sweepkin
