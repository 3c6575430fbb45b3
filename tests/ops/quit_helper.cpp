// A stand-in desktop application for the process tests. argv[1] says how it answers SIGTERM:
// "quit" (a normal exit at once), "slow" (a second later) or "ignore"; other arguments (such as
// "--type=gpu") only show in /proc. Prints "ready" once set up; lives at most a minute.

#include <signal.h>
#include <unistd.h>

#include <cstring>

static volatile sig_atomic_t term = 0;

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "quit";
    void (*const onTerm)(int) = [](int) { term = 1; };
    signal(SIGTERM, std::strcmp(mode, "ignore") == 0 ? SIG_IGN : onTerm);
    if (write(1, "ready\n", 6) != 6) return 1;
    for (int tick = 0; tick < 600 && !term; ++tick) usleep(100'000);
    if (term && std::strcmp(mode, "slow") == 0) sleep(1);
    return 0;
}
