#include "engine/process_values.h"

#include "engine/fs/home.h"

#ifndef SWEEPKIN_VERSION
#define SWEEPKIN_VERSION ""
#endif

namespace sweepkin {

std::string versionOrFallback(const char* buildVersion) {
    if (buildVersion == nullptr || *buildVersion == '\0') return "4.0";
    return buildVersion;
}

ProcessValues processValuesFor(std::string_view home) {
    const std::string base = homePrefix(normalizedPath(home));
    ProcessValues v;
    v.cloudKitCachePath = base + "/Library/Caches/CloudKit";
    v.userIds = startupUserIds();  // first: every owner below is judged by it
    v.baseDirs = currentBaseDirs(home);
    if constexpr (kLinuxLocations) {
        const std::string folder = v.baseDirs.stateHome + "/Sweepkin";
        v.reportPath = folder + "/last_cleanup_report.md";
        v.logPath = folder + "/Sweepkin.log";
    } else {
        v.reportPath = base + "/Library/Application Support/Sweepkin/last_cleanup_report.md";
        v.logPath = base + "/Library/Logs/Sweepkin.log";
    }
    v.historyPath = v.reportPath.substr(0, v.reportPath.rfind('/') + 1) + "history.sqlite";
    v.appVersion = versionOrFallback(SWEEPKIN_VERSION);
    v.cacheTargets = buildCacheTargets();
    return v;
}

}  // namespace sweepkin
