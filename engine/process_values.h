#pragma once
// The values computed once at start-up: the entry point builds them and hands each part what it
// needs.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/catalogue/catalogue.h"
#include "engine/fs/base_dirs.h"
#include "engine/fs/ownership.h"

namespace sweepkin {

struct ProcessValues {
    std::string cloudKitCachePath;  // ~/Library/Caches/CloudKit
    // Linux: <XDG state home>/Sweepkin/last_cleanup_report.md and …/Sweepkin.log;
    // macOS: ~/Library/Application Support/Sweepkin/last_cleanup_report.md,
    // ~/Library/Logs/Sweepkin.log
    std::string reportPath;
    std::string logPath;
    std::string historyPath;  // beside the report: history.sqlite
    std::uint64_t maxLogBytes = 5u * 1024u * 1024u;
    std::string appVersion;  // the build's version, "4.0" when the build gives none
    UserIds userIds;         // who the user is, as this user namespace shows owners
    BaseDirs baseDirs;       // the validated XDG folders (Linux)
    std::vector<AppTarget> cacheTargets;
};

// The values for the home folder `home` and the environment read at start-up.
ProcessValues processValuesFor(std::string_view home);

// The version baked in at build time, or "4.0" when that is empty.
std::string versionOrFallback(const char* buildVersion);

}  // namespace sweepkin
