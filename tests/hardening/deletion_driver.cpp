// Runs one guarded deletion of the paths given as arguments (HOME from the environment) and
// prints "freed anyFailed", so a tracer can watch exactly the system calls of a removal.

#include <cstdio>
#include <string>
#include <vector>

#include "engine/deletion.h"

int main(int argc, char** argv) {
    std::vector<std::string> paths(argv + 1, argv + argc);
    const sweepkin::DeleteResult result = sweepkin::deleteCachePaths(paths);
    std::printf("%lld %d\n", static_cast<long long>(result.freed), result.anyFailed ? 1 : 0);
    return 0;
}
