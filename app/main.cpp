#include <csignal>
#include <cstdio>
#include <string_view>

#include "app/cloudkit_clear.h"
#include "app/self_test.h"
#include "app/usage.h"
#include "engine/home.h"
#include "engine/process_values.h"
#include "shell/menu_bar_mode.h"

namespace {

// Exact, case-sensitive whole-argument match at any position after the program path.
bool hasArgument(int argc, char** argv, std::string_view flag) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == flag) return true;
    }
    return false;
}

// A reader that goes away (`sweepkin --clear-cloudkit-now | head -1`) must not kill the process
// between deleting the cache and writing the report; output errors are ignored instead.
void ignoreClosedPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
    const sweepkin::ProcessValues& values = sweepkin::processValues();
    if (sweepkin::kLinuxLocations && values.baseDirs.cacheHome.empty()) {
        std::fprintf(
            stderr,
            "Sweepkin: the cache folder %s shares folders with your settings, state or "
            "data; caches there are left alone.\n",
            sweepkin::abbreviateTilde(sweepkin::homePrefix(sweepkin::homeDirectory()) + "/.cache")
                .c_str());
    }

    // Asking what a flag does never runs it.
    if (hasArgument(argc, argv, "--help") || hasArgument(argc, argv, "-h")) {
        ignoreClosedPipes();
        sweepkin::printUsage(stdout);
        std::fflush(stdout);
        return 0;
    }
    if (hasArgument(argc, argv, "--version")) {
        ignoreClosedPipes();
        sweepkin::printVersion(stdout);
        std::fflush(stdout);
        return 0;
    }
    if (hasArgument(argc, argv, "--selftest")) {
        ignoreClosedPipes();
        const bool passed = sweepkin::runSelfTest(stdout);
        std::fflush(stdout);
        return passed ? 0 : 1;
    }
    if (hasArgument(argc, argv, "--clear-cloudkit-now")) {
        ignoreClosedPipes();
        sweepkin::clearCloudKitNow(stdout);
        std::fflush(stdout);
        return 0;
    }
    return sweepkin::runMenuBarMode(argc, argv);
}
