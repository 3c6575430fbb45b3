// Removes each argument with deleteCachePaths and prints what was freed. The paths must pass the
// safety guard (run with HOME set so that they lie in its Library/Caches, or name them *cache*).
#include <cstdio>
#include <string>
#include <vector>

#include "engine/deletion.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH...\n", argv[0]);
        return 2;
    }
    const std::vector<std::string> paths(argv + 1, argv + argc);
    const sweepkin::DeleteResult result = sweepkin::deleteCachePaths(paths);
    std::printf("freed %lld%s\n", static_cast<long long>(result.freed),
                result.anyFailed ? " (some removals failed)" : "");
    return result.anyFailed ? 1 : 0;
}
