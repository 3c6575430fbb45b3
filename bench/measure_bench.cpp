// Prints directorySize of each argument, for timing against other tools.
#include <cstdio>

#include "engine/sizes.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER...\n", argv[0]);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        std::printf("%lld\t%s\n", static_cast<long long>(sweepkin::directorySize(argv[i])), argv[i]);
    }
    return 0;
}
