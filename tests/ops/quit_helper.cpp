// A stand-in desktop application for the process tests. argv[1] says how it answers SIGTERM:
// "quit" (a normal exit at once), "slow" (a second later) or "ignore"; other arguments (such as
// "--type=gpu") only show in /proc, except "--spawn-helper": a child running this same program as
// "--type=gpu-process" takes over standard input (a file it holds) and ends with its parent.
// Prints "ready" once set up; lives at most a minute.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstring>

static volatile sig_atomic_t term = 0;

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "quit";
    void (*const onTerm)(int) = [](int) { term = 1; };
    signal(SIGTERM, std::strcmp(mode, "ignore") == 0 ? SIG_IGN : onTerm);
    if (argc > 2 && std::strcmp(argv[2], "--spawn-helper") == 0) {
        int execed[2];
        if (pipe2(execed, O_CLOEXEC) != 0) return 1;
        if (fork() == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            dup2(open("/dev/null", O_WRONLY), 1);
            char type[] = "--type=gpu-process";
            char* args[] = {argv[0], const_cast<char*>("quit"), type, nullptr};
            execv("/proc/self/exe", args);
            _exit(1);
        }
        // The helper holds the file from its exec on, the main process no longer.
        char byte;
        close(execed[1]);
        if (read(execed[0], &byte, 1) != 0) return 1;
        dup2(open("/dev/null", O_RDONLY), 0);
    }
    if (write(1, "ready\n", 6) != 6) return 1;
    for (int tick = 0; tick < 600 && !term; ++tick) usleep(100'000);
    if (term && std::strcmp(mode, "slow") == 0) sleep(1);
    return 0;
}
