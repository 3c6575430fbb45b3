#include "engine/procs/running_apps.h"

#include <thread>

namespace sweepkin {

namespace {
constexpr int kMaxChecks = 10;
constexpr std::chrono::milliseconds kCheckInterval{500};
}  // namespace

void closeApp(const std::string& bundleID, RunningApps& apps, const Sleeper& sleep) {
    for (const AppInstance& instance : apps.instances(bundleID)) apps.requestQuit(instance);
    for (int check = 0; check < kMaxChecks; ++check) {
        if (apps.instances(bundleID).empty()) return;
        if (sleep) {
            sleep(kCheckInterval);
        } else {
            std::this_thread::sleep_for(kCheckInterval);
        }
    }
}

}  // namespace sweepkin
