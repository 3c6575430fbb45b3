// Prints the size of each folder given, as the engine measures it, for timing against other tools.
//   measure_bench [--threads N] FOLDER...
// --threads 1 walks on one thread only (the engine itself uses up to two), to show what the
// second thread buys.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "bench/bench_args.h"
#include "engine/fs/tree_walk.h"
#include "engine/fs/unique_fd.h"

int main(int argc, char** argv) {
    sweepkin::bench::BenchArgs args;
    if (!sweepkin::bench::parseBenchArgs(argc, argv, "FOLDER", args)) return 2;
    const int first = args.first;
    const int threads = args.threads;
    for (int i = first; i < argc; ++i) {
        long long bytes = 0;
        sweepkin::UniqueFd fd(::open(argv[i], O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        // 0: as the engine walks (two threads at most).
        if (fd) {
            bytes = sweepkin::walkTree(fd.get(), sweepkin::WalkMode::Measure,
                                       threads == 0 ? 2 : threads)
                        .bytes;
        }
        std::printf("%lld\t%s\n", bytes, argv[i]);
    }
    return 0;
}
