#include "engine/procs/running_apps.h"

#include <unistd.h>

#include <algorithm>
#include <thread>

#include "engine/fs/resolver.h"

namespace sweepkin {

namespace {
constexpr int kMaxChecks = 10;
constexpr std::chrono::milliseconds kCheckInterval{500};

// The kernel's name of an open folder, what a process holding something in it shows in /proc;
// empty when it has none (removed, or out of this process's view).
std::string kernelPath(int fd) {
    char target[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    std::string path(target, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    return path.starts_with('/') && !path.ends_with(" (deleted)") ? path : std::string();
}

std::string kernelPath(const Item& item) {
    const std::string parent = kernelPath(item.openParent().get());
    return parent.empty() ? parent : parent + "/" + item.name;
}

void addOnce(std::vector<std::string>& folders, std::string folder) {
    // "/" holds everything; a root's own texts never come here, see heldFolders.
    if (folder.size() < 2 || std::find(folders.begin(), folders.end(), folder) != folders.end())
        return;
    folders.push_back(std::move(folder));
}
}  // namespace

std::vector<std::string> heldFolders(Resolver& resolver, const AppTarget& target) {
    std::vector<std::string> folders;
    if (!target.bundleID) {
        for (const Item& item : resolver.reachedItems(target.locations)) {
            addOnce(folders, item.path);
            addOnce(folders, kernelPath(item));
        }
        return folders;
    }
    for (const Location& location : target.locations) {
        // An empty folder is the root itself (a tool's folder, the home): everyone's, not the
        // application's.
        if (location.folder.empty()) continue;
        Location own = location;
        own.items = {""};
        for (const Item& item : resolver.reachedItems({own})) {
            addOnce(folders, item.path);
            addOnce(folders, kernelPath(item));
        }
        // Below the folder, the one that holds an item is the application's own folder or lies
        // in it; reached through the user's link, it is where the application really writes.
        const bool below = std::none_of(location.items.begin(), location.items.end(),
                                        [](const std::string& i) { return i.empty(); });
        for (const Item& item : resolver.reachedItems({location})) {
            addOnce(folders, item.path);
            addOnce(folders, kernelPath(item));
            if (below) addOnce(folders, kernelPath(item.openParent().get()));
        }
    }
    return folders;
}

std::vector<std::vector<AppInstance>> runningInstances(RunningApps& apps,
                                                       const std::vector<AppProcesses>& list) {
    std::vector<std::vector<std::string>> folderLists;
    for (const AppProcesses& app : list) folderLists.push_back(app.folders);
    const bool anyFolder = std::any_of(folderLists.begin(), folderLists.end(),
                                       [](const auto& folders) { return !folders.empty(); });
    std::vector<std::vector<AppInstance>> held =
        anyFolder ? apps.holders(folderLists) : std::vector<std::vector<AppInstance>>{};
    std::vector<std::vector<AppInstance>> result;
    for (std::size_t i = 0; i < list.size(); ++i) {
        // A tool has no rules: only what it holds tells it.
        std::vector<AppInstance> found = list[i].bundleID.empty()
                                             ? std::vector<AppInstance>{}
                                             : apps.instances(list[i].bundleID);
        if (i < held.size()) {
            for (const AppInstance& instance : held[i]) {
                if (std::none_of(found.begin(), found.end(),
                                 [&](const AppInstance& f) { return f.pid == instance.pid; }))
                    found.push_back(instance);
            }
        }
        result.push_back(std::move(found));
    }
    return result;
}

std::vector<AppInstance> runningInstances(RunningApps& apps, const AppProcesses& app) {
    return std::move(runningInstances(apps, std::vector<AppProcesses>{app}).front());
}

void closeApp(const AppProcesses& app, RunningApps& apps, const Sleeper& sleep) {
    for (const AppInstance& instance : runningInstances(apps, app)) apps.requestQuit(instance);
    for (int check = 0; check < kMaxChecks; ++check) {
        if (runningInstances(apps, app).empty()) return;
        if (sleep) {
            sleep(kCheckInterval);
        } else {
            std::this_thread::sleep_for(kCheckInterval);
        }
    }
}

}  // namespace sweepkin
