// A stand-in desktop application for the process tests. argv[1] says how it answers SIGTERM:
// "quit" (at once), "ignore", or "slow" (a second later); other arguments (such as
// "--type=renderer") only show in /proc. Prints "ready" once set up; lives at most a minute.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {
volatile sig_atomic_t termReceived = 0;
void onTerm(int) {
    termReceived = 1;
}
}  // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "quit";
    const bool slow = std::strcmp(mode, "slow") == 0;
    if (std::strcmp(mode, "ignore") == 0) {
        signal(SIGTERM, SIG_IGN);
    } else {
        // A handled SIGTERM ends in a normal exit, which tells the tests it was no kill.
        struct sigaction sa {};
        sa.sa_handler = onTerm;
        sigaction(SIGTERM, &sa, nullptr);
    }
    std::puts("ready");
    std::fflush(stdout);
    for (int tick = 0; tick < 600; ++tick) {
        if (termReceived) {
            if (slow) usleep(1'000'000);
            return 0;
        }
        usleep(100'000);
    }
    return 0;
}
