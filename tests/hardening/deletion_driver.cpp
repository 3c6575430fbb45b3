// Measures as a scan does, then removes, what every catalogue entry names, as a clean of all rows
// does, and prints "name measured freed anyFailed" per entry. Run with "--every-target".

#include <cstdio>
#include <string>

#include "engine/fs/deletion.h"
#include "engine/fs/sizes.h"
#include "engine/process_values.h"

int main(int argc, char** argv) {
    using namespace sweepkin;
    if (argc != 2 || std::string(argv[1]) != "--every-target") {
        std::fprintf(stderr, "usage: %s --every-target\n", argv[0]);
        return 2;
    }
    Resolver resolver;
    for (const AppTarget& target : processValues().cacheTargets) {
        const long long measured = pathsSize(resolver.items(target.locations));
        const DeleteResult result = deleteLocations(resolver, target.locations);
        std::printf("%s %lld %lld %d\n", target.name.c_str(), measured,
                    static_cast<long long>(result.freed), result.anyFailed ? 1 : 0);
    }
}
