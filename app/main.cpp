#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/cloudkit_clear.h"
#include "app/list_mode.h"
#include "app/self_test.h"
#include "app/usage.h"
#include "engine/fs/home.h"
#include "engine/fs/places.h"
#include "engine/fs/resolver.h"
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

// In a user namespace that maps only some users, a folder whose owner it does not map shows the
// overflow id: root's "/" included. Such a folder is still left alone, as its owner is unknown.
bool ownerUnmapped(const std::string& where, const sweepkin::UserIds& ids) {
    struct stat st;
    return !ids.everyUid && ::lstat(where.c_str(), &st) == 0 && st.st_uid == ids.overflowUid;
}

// " is reached through /tmp, which is another user's": why `folder` is left alone.
std::string refusedWay(const std::string& folder, const std::string& where, sweepkin::LeftOut why,
                       const sweepkin::UserIds& ids) {
    using sweepkin::LeftOut;
    if (why == LeftOut::OthersOwn && ownerUnmapped(where.empty() ? folder : where, ids)) {
        return where.empty() || where == folder
                   ? " belongs to a user this user namespace does not map"
                   : " is reached through " + sweepkin::abbreviateTilde(where) +
                         ", whose owner this user namespace does not map";
    }
    if (where.empty() || where == folder) {
        return why == LeftOut::OthersOwn        ? " is another user's"
               : why == LeftOut::OthersMayWrite ? " may be changed by other users"
                                                : " is a link Sweepkin does not follow";
    }
    return " is reached through " + sweepkin::abbreviateTilde(where) + ", which " +
           (why == LeftOut::OthersOwn        ? "is another user's"
            : why == LeftOut::OthersMayWrite ? "other users may change"
                                             : "Sweepkin does not follow");
}

// One line on standard error when the home, or the cache folder in it, is left alone, with the
// reason; one more when a sandbox hides the Flatpak applications' folders.
void explainWhatIsLeftAlone(const sweepkin::ProcessValues& values) {
    using namespace sweepkin;
    if (!values.userIds.userMapped) {
        // Every owner then shows as the same overflow id, the user's own folders and root's alike.
        std::fprintf(stderr,
                     "Sweepkin: this user namespace does not map your own user, so your folders "
                     "cannot be told from other users'; nothing is cleaned.\n");
        return;
    }
    Resolver resolver(currentPlaces());
    const Opened& home = resolver.home();
    const std::string homeText = normalizedPath(homeDirectory());
    if (home.reach == Reach::Refused) {
        const LeftOut why = home.why == Refusal::OthersOwn        ? LeftOut::OthersOwn
                            : home.why == Refusal::OthersMayWrite ? LeftOut::OthersMayWrite
                                                                  : LeftOut::Unfollowed;
        std::fprintf(stderr, "Sweepkin: your home folder %s%s; nothing is cleaned.\n",
                     homeText.c_str(),
                     refusedWay(homeText, home.where, why, values.userIds).c_str());
        return;
    }
    const std::string cache = homePrefix(homeText) + "/.cache";
    const LeftOut why = values.baseDirs.cacheLeftOut;
    if (why == LeftOut::Overlap) {
        std::fprintf(stderr,
                     "Sweepkin: the cache folder %s shares folders with your settings, state or "
                     "data; caches there are left alone.\n",
                     abbreviateTilde(cache).c_str());
    } else if (why != LeftOut::No) {
        std::fprintf(stderr, "Sweepkin: the cache folder %s%s; caches there are left alone.\n",
                     abbreviateTilde(cache).c_str(),
                     refusedWay(cache, values.baseDirs.leftOutAt, why, values.userIds).c_str());
    }
    if (flatpakFoldersHidden(homeText)) {
        std::fprintf(stderr,
                     "Sweepkin: Flatpak applications' folders are hidden from this sandbox "
                     "(~/.var/app holds only Sweepkin's own); their caches are not cleaned.\n");
    }
}

// A reader that goes away (`sweepkin --clear-cloudkit-now | head -1`) must not kill the process
// between deleting the cache and writing the report; output errors are ignored instead.
void ignoreClosedPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
    // Built once, here, and handed to each part that needs them.
    const sweepkin::ProcessValues values = sweepkin::processValuesFor(sweepkin::homeDirectory());
    explainWhatIsLeftAlone(values);

    // Asking what a flag does never runs it.
    if (hasArgument(argc, argv, "--help") || hasArgument(argc, argv, "-h")) {
        ignoreClosedPipes();
        sweepkin::printUsage(stdout, values);
        std::fflush(stdout);
        return 0;
    }
    if (hasArgument(argc, argv, "--version")) {
        ignoreClosedPipes();
        sweepkin::printVersion(stdout, values);
        std::fflush(stdout);
        return 0;
    }
    if (hasArgument(argc, argv, "--selftest")) {
        ignoreClosedPipes();
        const bool passed = sweepkin::runSelfTest(stdout, values);
        std::fflush(stdout);
        return passed ? 0 : 1;
    }
    if (hasArgument(argc, argv, "--clear-cloudkit-now")) {
        ignoreClosedPipes();
        sweepkin::clearCloudKitNow(stdout, values);
        std::fflush(stdout);
        return 0;
    }
    if (hasArgument(argc, argv, "--list")) {
        ignoreClosedPipes();
        sweepkin::printListing(stdout, hasArgument(argc, argv, "--json"), values);
        std::fflush(stdout);
        return 0;
    }
    if (hasArgument(argc, argv, "--history")) {
        ignoreClosedPipes();
        sweepkin::printHistory(stdout, hasArgument(argc, argv, "--json"), values);
        std::fflush(stdout);
        return 0;
    }
    return sweepkin::runMenuBarMode(argc, argv, values);
}
