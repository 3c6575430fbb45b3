#pragma once
// Linux registry: the current user's processes in /proc, matched by executable name.

#include "engine/running_apps.h"

namespace sweepkin {

class ProcRunningApps : public RunningApps {
public:
    std::vector<AppInstance> instances(const std::string& bundleID) override;
    void requestQuit(const AppInstance& instance) override;
};

}  // namespace sweepkin
