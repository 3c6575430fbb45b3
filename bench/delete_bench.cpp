// Removes each argument with deleteCachePaths and prints what was freed. The paths must pass the
// safety guard (run with HOME set so that they lie in its Library/Caches, or name them *cache*).
//   delete_bench [--threads N] PATH...
// --threads 1 runs the same two passes as the engine with the file pass on one thread only and
// without the guard, to show what the second thread buys.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_args.h"
#include "engine/fs/deletion.h"
#include "engine/fs/home.h"
#include "engine/fs/places.h"
#include "engine/fs/resolver.h"
#include "engine/fs/tree_walk.h"
#include "engine/fs/unique_fd.h"

int main(int argc, char** argv) {
    sweepkin::bench::BenchArgs args;
    if (!sweepkin::bench::parseBenchArgs(argc, argv, "PATH", args)) return 2;
    const int first = args.first;
    const int threads = args.threads;
    const std::vector<std::string> paths(argv + first, argv + argc);
    sweepkin::DeleteResult result;
    if (threads == 0) {
        // Each path as an item below the home, reached by the resolver as a clean reaches it.
        const std::string home = sweepkin::homePrefix(sweepkin::homeDirectory());
        std::vector<sweepkin::Location> locations;
        for (const std::string& path : paths) {
            if (!path.starts_with(home + "/")) {
                std::fprintf(stderr, "delete_bench: %s is not below HOME\n", path.c_str());
                return 2;
            }
            locations.push_back({sweepkin::RootKind::Home, {}, path.substr(home.size() + 1), {""}});
        }
        sweepkin::Resolver resolver(sweepkin::currentPlaces());
        const std::vector<sweepkin::Item> items = resolver.items(locations);
        result = sweepkin::deleteCachePaths(items);
    } else {
        for (const std::string& path : paths) {
            sweepkin::UniqueFd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!dir) continue;
            const auto files =
                sweepkin::walkTree(dir.get(), sweepkin::WalkMode::UnlinkFiles, threads);
            const auto rest = sweepkin::walkTree(dir.get(), sweepkin::WalkMode::RemoveAll, 1);
            dir.reset();
            if (rest.failed || ::rmdir(path.c_str()) != 0) {
                result.anyFailed = true;
            } else {
                result.freed += files.bytes + rest.bytes;
            }
        }
    }
    std::printf("freed %lld%s\n", static_cast<long long>(result.freed),
                result.anyFailed ? " (some removals failed)" : "");
    return result.anyFailed ? 1 : 0;
}
