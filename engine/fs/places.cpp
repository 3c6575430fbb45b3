#include "engine/fs/places.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "engine/catalogue/catalogue.h"
#include "engine/catalogue/pattern.h"
#include "engine/fs/base_dirs.h"
#include "engine/fs/home.h"
#include "engine/fs/item_kind.h"
#include "engine/fs/mounts.h"
#include "engine/platform.h"

namespace sweepkin {

namespace {

// A tool's folder goes whole. Moved by its variable onto another entry's folders (at or above
// them, or anywhere in the application's own folder that holds them), it would take what they
// keep beside their caches and count their caches twice: then the tool has no folder. Compared by
// what the folders are on disk (a link of the user's or a file system that ignores case can make
// two texts one folder), and by text with the other entries' "*" components too, for the folders
// that are not there yet.
void leaveOutOverlappingTools(Places& places) {
    Resolver resolver(places);
    const auto overlap = [](std::string_view pattern, std::string_view folder) {
        const auto p = pathComponents(pattern), f = pathComponents(folder);
        for (std::size_t i = 0; i < std::min(p.size(), f.size()); ++i) {
            if (!wildcardMatch(p[i], f[i])) return false;
        }
        return true;
    };
    const std::vector<AppTarget> targets = buildCacheTargets();
    std::vector<std::pair<const Location*, Reached>> reached;  // looked at once, when needed
    std::vector<std::string> dropped;
    for (const auto& [variable, folder] : places.tools) {
        if (folder.empty() || !startupBaseDirVariables().tools.contains(variable)) continue;
        // The folder itself and every real folder it lies in, when it is there.
        std::vector<FolderID> chain;
        for (const Item& item :
             resolver.reachedItems({{RootKind::ToolFolder, variable, {}, {""}}})) {
            const UniqueFd parent = item.openParent();
            struct stat st;
            if (parent &&
                ::fstatat(parent.get(), item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                chain = folderChain(parent.get());
                chain.insert(chain.begin(), FolderID{st.st_dev, st.st_ino});
            }
        }
        if (!chain.empty() && reached.empty()) {
            for (const AppTarget& target : targets) {
                for (const Location& location : target.locations) {
                    reached.emplace_back(&location, resolver.reached({location}));
                }
            }
        }
        const auto has = [](const std::vector<FolderID>& ids, const FolderID& id) {
            return std::find(ids.begin(), ids.end(), id) != ids.end();
        };
        const auto onDisk = [&](const Location& location) {
            for (const auto& [at, what] : reached) {
                if (*at != location) continue;
                // At or above a folder on their way or one of their items, or inside the
                // application's own folder that holds their items (beside them: an IDE's local
                // history, a test runner's browser profiles).
                const auto inside = [&](const std::vector<FolderID>& ids) {
                    return std::any_of(ids.begin(), ids.end(),
                                       [&](const FolderID& id) { return has(chain, id); });
                };
                return has(what.ways, chain.front()) || has(what.items, chain.front()) ||
                       inside(what.owns) || inside(what.items);
            }
            return false;
        };
        for (const AppTarget& target : targets) {
            for (const Location& location : target.locations) {
                if (location.root == RootKind::ToolFolder && location.app == variable) continue;
                bool same = !chain.empty() && onDisk(location);
                Location own = location;
                own.items = {""};
                for (const std::string& pattern : resolver.patterns(own)) {
                    same = same || overlap(pattern, folder);
                }
                if (same) dropped.push_back(variable);
            }
        }
    }
    for (const std::string& variable : dropped) places.tools[variable].clear();
}

}  // namespace

Places currentPlaces() {
    Places places;
    places.home = homeDirectory();
    if constexpr (kLinuxLocations) {
        const BaseDirs dirs = currentBaseDirs(places.home);
        places.cacheHome = dirs.cacheHome;
        places.configHome = dirs.configTrusted ? dirs.configHome : std::string();
        places.dataHome = dirs.dataTrusted ? dirs.dataHome : std::string();
        places.tools = dirs.tools;
        places.inUse = dirs.inUse;
        places.toolsInUse = dirs.toolsInUse;
        leaveOutOverlappingTools(places);
    }
    return places;
}

bool flatpakFoldersHidden(std::string_view home) {
    if constexpr (!kLinuxLocations) return false;
    const UniqueFd var(
        ::open((homePrefix(home) + "/.var").c_str(), O_PATH | O_CLOEXEC | O_DIRECTORY));
    if (!var || !isMountPoint(var.get(), "app")) return false;
    const UniqueFd app(::openat(var.get(), "app", O_PATH | O_CLOEXEC | O_DIRECTORY | O_NOFOLLOW));
    return app && matchingEntries(app.get(), "*") == std::vector<std::string>{kOwnFlatpakID};
}

}  // namespace sweepkin
