#include "app/cloudkit_clear.h"

#include <cstdint>
#include <string>

#include "app/output.h"
#include "engine/fs/deletion.h"
#include "engine/fs/resolver.h"
#include "engine/fs/sizes.h"
#include "engine/process_values.h"
#include "ops/cleanup_report.h"

namespace sweepkin {

void clearCloudKitNow(std::FILE* out) {
    const ProcessValues& values = processValues();
    printLine(out, "Sweepkin — clearing iCloud (CloudKit) cache for real");
    const std::int64_t freeBefore = freeDiskSpace();

    DeleteResult result;
    // Reached as a clean reaches it; a dangling link is "nothing" there too.
    Resolver resolver;
    const std::vector<Item> items = resolver.items(values.cacheTargets.front().locations);
    if (items.empty()) {
        printLine(out, "CloudKit cache: nothing to clear");
    } else {
        printLine(out, "CloudKit cache size before: " + formatBytes(directorySize(items.front())));
        result = deleteCachePaths(items);
        if (result.anyFailed) {
            printLine(out, "  could not fully clear — may need Full Disk Access");
        } else {
            printLine(out, "  cleared " + formatBytes(result.freed));
        }
    }
    std::fflush(out);

    const std::int64_t freeAfter = freeDiskSpace();
    std::string reportLine = "iCloud (CloudKit) cache: cleared " + formatBytes(result.freed);
    if (result.anyFailed) reportLine += " (partial — needs Full Disk Access)";
    const bool written =
        writeCleanupReport(values.reportPath, {reportLine}, result.freed, freeBefore, freeAfter);

    printLine(out, "Free disk now: " + formatBytes(freeAfter) + "  (was " +
                       formatBytes(freeBefore) + ")");
    // Claiming a report that is not there would send the user looking for nothing.
    if (written) {
        printLine(out, "Report written → " + values.reportPath);
    } else {
        printLine(out, "Report not written — could not save " + values.reportPath);
    }
}

}  // namespace sweepkin
