#pragma once
// Closing running applications before their caches are removed.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace sweepkin {

struct AppInstance {
    int pid = 0;
    int pidfd = -1;  // where the kernel offers one; owned by the registry that listed it
};

// The two operations the logic needs from the platform's running-application registry.
class RunningApps {
  public:
    virtual ~RunningApps() = default;
    // The running main instances of the application with this bundle identifier.
    virtual std::vector<AppInstance> instances(const std::string& bundleID) = 0;
    // Asks one instance to quit normally; never kills it. The result is not reported.
    virtual void requestQuit(const AppInstance& instance) = 0;
};

using Sleeper = std::function<void(std::chrono::milliseconds)>;

// Asks every running instance to quit, then checks at most 10 times, 0.5 s apart, whether any
// is left; returns as soon as none is.
void closeApp(const std::string& bundleID, RunningApps& apps, const Sleeper& sleep = {});

}  // namespace sweepkin
