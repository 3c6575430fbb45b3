// Runs one guarded deletion of the paths given as arguments (HOME from the environment) and
// prints "freed anyFailed", so a tracer can watch exactly the system calls of a removal.
// With "--every-target" instead, removes what every catalogue entry expands to, as a clean of all
// rows does, and prints "name freed anyFailed" per entry.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/deletion.h"
#include "engine/pattern.h"
#include "engine/process_values.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--every-target") == 0) {
        for (const sweepkin::AppTarget& target : sweepkin::processValues().cacheTargets) {
            const auto result = sweepkin::deleteCachePaths(sweepkin::expandPatterns(target.paths));
            std::printf("%s %lld %d\n", target.name.c_str(), static_cast<long long>(result.freed),
                        result.anyFailed ? 1 : 0);
        }
        return 0;
    }
    std::vector<std::string> paths(argv + 1, argv + argc);
    const sweepkin::DeleteResult result = sweepkin::deleteCachePaths(paths);
    std::printf("%lld %d\n", static_cast<long long>(result.freed), result.anyFailed ? 1 : 0);
    return 0;
}
