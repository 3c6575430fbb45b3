#pragma once
// The end-to-end runs read the tray app through files: SWEEPKIN_TEST_DUMP names one, and the
// panel, the alerts and the tray's tooltip write what they show beside it. Only builds with tests
// look at the variable; in any other build this is empty and nothing is written.

#include <QString>

namespace sweepkin {

inline QString testDumpPath() {
#ifdef SWEEPKIN_TEST_HOOKS
    static const QString path = qEnvironmentVariable("SWEEPKIN_TEST_DUMP");
    return path;
#else
    return {};
#endif
}

}  // namespace sweepkin
