// Prints directorySize of each argument, for timing against other tools.
//   measure_bench [--threads N] FOLDER...
// --threads 1 walks on one thread only (the engine itself uses up to two), to show what the
// second thread buys.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/sizes.h"
#include "engine/tree_walk.h"
#include "engine/unique_fd.h"

int main(int argc, char** argv) {
    int first = 1;
    int threads = 0;
    if (argc > 2 && std::strcmp(argv[1], "--threads") == 0) {
        threads = std::atoi(argv[2]);
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: %s [--threads N] FOLDER...\n", argv[0]);
        return 2;
    }
    for (int i = first; i < argc; ++i) {
        long long bytes = 0;
        if (threads == 0) {
            bytes = sweepkin::directorySize(argv[i]);
        } else {
            sweepkin::UniqueFd fd(::open(argv[i], O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (fd)
                bytes = sweepkin::walkTree(fd.get(), sweepkin::WalkMode::Measure, threads).bytes;
        }
        std::printf("%lld\t%s\n", bytes, argv[i]);
    }
    return 0;
}
