#include "app/usage.h"

#include <string>

#include "app/output.h"
#include "engine/fs/base_dirs.h"
#include "engine/fs/home.h"
#include "engine/process_values.h"

namespace sweepkin {

void printUsage(std::FILE* out, const ProcessValues& values) {
    const std::string config = abbreviateTilde(values.baseDirs.configHome);
    for (const std::string& line : {
             std::string("Usage: sweepkin [--selftest | --clear-cloudkit-now | --list [--json] |"),
             std::string("                 --history [--json] | --help | --version]"),
             std::string(),
             std::string(
                 "Sweepkin reclaims disk space by deleting the cache folders of a fixed list of"),
             std::string("desktop applications, and never anything else."),
             std::string(),
             std::string("  (no option)           start the tray app; its panel lists the caches "
                         "and cleans"),
             std::string("                        the ones you tick"),
             std::string("  --selftest            dry run: print what would be cleaned and check "
                         "the safety"),
             std::string(
                 "                        guard; deletes and writes nothing; exit status 1 when a"),
             std::string("                        safety check failed"),
             std::string("  --clear-cloudkit-now  delete the iCloud (CloudKit) cache at once, "
                         "without asking,"),
             std::string("                        and write the cleanup report"),
             std::string("  --list                the rows the panel would show: name, size, "
                         "ticked, running"),
             std::string("  --list --json         every row found, with its id, bytes, tick and "
                         "the exact"),
             std::string("                        paths a clean of it removes (\"schema\": 1)"),
             std::string("  --history [--json]    the kept measurements and cleans, oldest first"),
             std::string("                        (--list and --history write and delete "
                         "nothing)"),
             std::string("  -h, --help            print this text"),
             std::string("  --version             print the version"),
             std::string(),
             std::string(
                 "-h, --help and --version win wherever they stand: they never run a mode."),
             std::string("Then --selftest, --clear-cloudkit-now, --list and --history, in this "
                         "order."),
             std::string(),
             std::string("Files:"),
             "  last clean's report  " + abbreviateTilde(values.reportPath),
             "  activity log         " + abbreviateTilde(values.logPath) + " (and .old)",
             "  history              " + abbreviateTilde(values.historyPath),
             "  settings             " + config + "/Sweepkin/Sweepkin.conf",
             "  open at login        " + config + "/autostart/sweepkin.desktop",
             std::string(),
             std::string("More in the manual page: man sweepkin"),
         }) {
        printLine(out, line);
    }
}

void printVersion(std::FILE* out, const ProcessValues& values) {
    printLine(out, "Sweepkin " + values.appVersion);
}

}  // namespace sweepkin
