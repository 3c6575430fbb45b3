#include "app/cloudkit_clear.h"

#include <cstdint>
#include <string>

#include "app/output.h"
#include "engine/fs/deletion.h"
#include "engine/fs/places.h"
#include "engine/fs/resolver.h"
#include "engine/fs/sizes.h"
#include "engine/process_values.h"
#include "ops/cleanup_report.h"
#include "ops/history_store.h"

namespace sweepkin {

namespace {

// The clear is a clean like the panel's: the history keeps it. A store that cannot be written
// changes nothing here; the clear has no log to say so in.
void recordClean(const ProcessValues& values, std::int64_t before, std::int64_t freed, bool found) {
    const QString id = QString::fromStdString(values.cacheTargets.front().id);
    HistoryRecord record{QDateTime::currentDateTimeUtc(), HistoryKind::Clean, {}, {}, 1};
    if (found) {
        record.bytes.insert(id, before);
        record.freed.insert(id, freed);
    }
    HistoryStore store(QString::fromStdString(values.historyPath), [](const QString&) {});
    store.add(record);
}

}  // namespace

void clearCloudKitNow(std::FILE* out, const ProcessValues& values) {
    printLine(out, "Sweepkin — clearing iCloud (CloudKit) cache for real");
    const std::int64_t freeBefore = homeDiskSpace().free;

    DeleteResult result;
    std::int64_t directoryBytes = 0;
    // Reached as a clean reaches it; a dangling link is "nothing" there too.
    Resolver resolver(currentPlaces());
    const std::vector<Item> items = resolver.items(values.cacheTargets.front().locations);
    if (items.empty()) {
        printLine(out, "CloudKit cache: nothing to clear");
    } else {
        directoryBytes = directorySize(items.front());
        printLine(out, "CloudKit cache size before: " + formatBytes(directoryBytes));
        result = deleteCachePaths(items);
        if (result.anyFailed) {
            printLine(out, "  could not fully clear — may need Full Disk Access");
        } else {
            printLine(out, "  cleared " + formatBytes(result.freed));
        }
    }
    std::fflush(out);
    recordClean(values, items.empty() ? 0 : directoryBytes, result.freed, !items.empty());

    const std::int64_t freeAfter = homeDiskSpace().free;
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
