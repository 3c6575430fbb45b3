#pragma once
// The command line shared by the bench programs: [--threads N] ITEM...

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sweepkin::bench {

struct BenchArgs {
    int threads = 0;  // 0: the engine's own choice
    int first = 1;    // index of the first item in argv
};

// False (after printing the usage) when no item is given.
inline bool parseBenchArgs(int argc, char** argv, const char* itemName, BenchArgs& out) {
    if (argc > 2 && std::strcmp(argv[1], "--threads") == 0) {
        out.threads = std::atoi(argv[2]);
        out.first = 3;
    }
    if (out.first >= argc) {
        std::fprintf(stderr, "usage: %s [--threads N] %s...\n", argv[0], itemName);
        return false;
    }
    return true;
}

}  // namespace sweepkin::bench
