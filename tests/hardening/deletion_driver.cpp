// Removes the paths given as arguments (HOME from the environment) as one guarded deletion and
// prints "freed anyFailed", for a tracer to watch. With "--every-target" instead, measures as a
// scan does, then removes, what every catalogue entry expands to, as a clean of all rows does:
// "name measured freed anyFailed" per entry.

#include <cstdio>
#include <string>

#include "engine/deletion.h"
#include "engine/pattern.h"
#include "engine/process_values.h"
#include "engine/sizes.h"

int main(int argc, char** argv) {
    using namespace sweepkin;
    const bool everyTarget = argc == 2 && std::string(argv[1]) == "--every-target";
    std::vector<AppTarget> targets(everyTarget ? 0 : 1);
    if (everyTarget) targets = processValues().cacheTargets;
    for (AppTarget& target : targets) {
        if (!everyTarget) target.paths.assign(argv + 1, argv + argc);
        const std::vector<std::string> paths =
            everyTarget ? expandPatterns(target.paths) : target.paths;
        const long long measured = everyTarget ? pathsSize(paths) : 0;
        const DeleteResult result = deleteCachePaths(paths);
        if (everyTarget) std::printf("%s %lld ", target.name.c_str(), measured);
        std::printf("%lld %d\n", static_cast<long long>(result.freed), result.anyFailed ? 1 : 0);
    }
}
