// Measures every catalogue entry as a scan does, then removes what each names as a clean of all
// rows does, and prints "name measured freed anyFailed" per entry. Run with "--every-target".

#include <cstdio>
#include <string>
#include <vector>

#include "engine/catalogue/catalogue.h"
#include "engine/fs/deletion.h"
#include "engine/fs/places.h"
#include "engine/fs/sizes.h"

int main(int argc, char** argv) {
    using namespace sweepkin;
    if (argc != 2 || std::string(argv[1]) != "--every-target") {
        std::fprintf(stderr, "usage: %s --every-target\n", argv[0]);
        return 2;
    }
    Resolver resolver(currentPlaces());
    const std::vector<AppTarget> targets = buildCacheTargets();
    std::vector<long long> measured;  // every entry first, as the panel lists them
    for (const AppTarget& target : targets) {
        measured.push_back(pathsSize(resolver.items(target.locations)));
    }
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const DeleteResult result = deleteLocations(resolver, targets[i].locations);
        std::printf("%s %lld %lld %d\n", targets[i].name.c_str(), measured[i],
                    static_cast<long long>(result.freed), result.anyFailed ? 1 : 0);
    }
}
