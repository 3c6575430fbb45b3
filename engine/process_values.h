#pragma once
// Values computed once at start-up and read without locking afterwards.

#include <cstdint>
#include <string>
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

// Builds the values from the home directory on the first call (thread-safe), which the entry
// point makes before anything else, and returns the same immutable instance ever after.
const ProcessValues& processValues();

// The version baked in at build time, or "4.0" when that is empty.
std::string versionOrFallback(const char* buildVersion);

}  // namespace sweepkin
