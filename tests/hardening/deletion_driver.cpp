// Removes the paths given as arguments (below HOME, reached as a location rooted at the home) as
// one guarded deletion and prints "freed anyFailed", for a tracer to watch. With "--every-target"
// instead, measures as a scan does, then removes, what every catalogue entry names, as a clean of
// all rows does: "name measured freed anyFailed" per entry.

#include <cstdio>
#include <string>

#include "engine/fs/deletion.h"
#include "engine/fs/home.h"
#include "engine/fs/sizes.h"
#include "engine/process_values.h"

int main(int argc, char** argv) {
    using namespace sweepkin;
    Resolver resolver;
    if (argc == 2 && std::string(argv[1]) == "--every-target") {
        for (const AppTarget& target : processValues().cacheTargets) {
            const long long measured = pathsSize(resolver.items(target.locations));
            const DeleteResult result = deleteLocations(resolver, target.locations);
            std::printf("%s %lld %lld %d\n", target.name.c_str(), measured,
                        static_cast<long long>(result.freed), result.anyFailed ? 1 : 0);
        }
        return 0;
    }
    const std::string home = homePrefix(homeDirectory()) + "/";
    std::vector<Location> locations;
    for (int i = 1; i < argc; ++i) {
        const std::string path = argv[i];
        if (path.starts_with(home)) {
            locations.push_back({RootKind::Home, {}, path.substr(home.size()), {""}});
        }
    }
    const DeleteResult result = deleteLocations(resolver, locations);
    std::printf("%lld %d\n", static_cast<long long>(result.freed), result.anyFailed ? 1 : 0);
}
