#include "engine/fs/base_dirs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "engine/catalogue/catalogue.h"
#include "engine/fs/home.h"
#include "engine/fs/ownership.h"
#include "engine/fs/safety_guard.h"
#include "engine/fs/unique_fd.h"
#include "engine/fs/way.h"

namespace sweepkin {

namespace {

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

// A folder by its text and by what it is on disk: the identities of the deepest part of it that
// exists and of every real ancestor of that part up to "/" (found through "..", so links in the
// text do not matter).
struct Place {
    std::string text;
    std::vector<FolderID> chain = {};  // deepest existing folder first
    bool exists = false;               // the whole path is a folder
    uid_t owner = 0;                   // when it exists
    LeftOut refused = LeftOut::No;     // something on its way that is not trusted
    std::string where = {};
};

// With `rules`, opened as the catalogue's paths will be opened, links on the way taken by the
// same rules; without, as any application opens it, following every link.
Place place(std::string text, const WayRules* rules, const UserIds& ids) {
    Place out{std::move(text)};
    std::string prefix = out.text;
    UniqueFd fd;
    for (;;) {
        if (rules != nullptr) {
            Opened opened = openWay(prefix, *rules);
            if (opened.reach == Reach::Refused && out.refused == LeftOut::No) {
                out.refused = opened.why == Refusal::OthersOwn        ? LeftOut::OthersOwn
                              : opened.why == Refusal::OthersMayWrite ? LeftOut::OthersMayWrite
                                                                      : LeftOut::Unfollowed;
                out.where = opened.where;
            }
            fd = std::move(opened.fd);
        } else {
            fd.reset(::open(prefix.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        }
        if (fd || prefix == "/" || prefix.empty()) break;
        const std::size_t slash = prefix.rfind('/');
        prefix = slash == 0 || slash == std::string::npos ? "/" : prefix.substr(0, slash);
    }
    out.exists = fd && prefix == out.text;
    struct stat st;
    if (fd && ::fstat(fd.get(), &st) == 0) out.owner = st.st_uid;
    if (fd) out.chain = folderChain(fd.get());
    if (!out.exists || out.refused != LeftOut::No) return out;
    // Named where it really is: "~/.cache" may lead to "/tmp".
    const auto real = [&] {
        char path[4096];
        const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
        const ssize_t n = ::readlink(self.c_str(), path, sizeof path);
        return n > 0 && static_cast<std::size_t>(n) < sizeof path
                   ? std::string(path, static_cast<std::size_t>(n))
                   : out.text;
    };
    if (!isUser(out.owner, ids)) {
        out.refused = LeftOut::OthersOwn;
        out.where = real();
    } else if (::fstat(fd.get(), &st) == 0 && othersMayAdd(fd.get(), st, ids)) {
        // Where others may add entries, they could put a link of theirs where the program writes.
        out.refused = LeftOut::OthersMayWrite;
        out.where = real();
    }
    return out;
}

// `a` is `b` or lies inside it, by text or on disk.
bool within(const Place& a, const Place& b) {
    if (a.text == b.text || (a.text.size() > b.text.size() && a.text.starts_with(b.text) &&
                             a.text[b.text.size()] == '/')) {
        return true;
    }
    return b.exists && std::find(a.chain.begin(), a.chain.end(), b.chain.front()) != a.chain.end();
}

bool overlaps(const Place& a, const Place& b) {
    return within(a, b) || within(b, a);
}

// Each tool variable of the catalogue with the items of its location.
std::vector<std::pair<ToolVariable, std::vector<std::string>>> toolFolders() {
    std::vector<std::pair<ToolVariable, std::vector<std::string>>> out;
    for (const AppTarget& target : buildCacheTargets()) {
        for (const Location& location : target.locations) {
            if (location.root != RootKind::ToolFolder) continue;
            for (const ToolVariable& tool : target.tools) {
                if (tool.name == location.app) out.emplace_back(tool, location.items);
            }
        }
    }
    return out;
}

// The absolute `path` with "." and ".." taken as text: where an application that builds on the
// value puts its folders when no link is in the way. No trailing slash; ".." at "/" stays there.
std::string lexicalPath(std::string_view path) {
    std::string out = std::filesystem::path(path).lexically_normal().string();
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out.empty() ? "/" : out;
}

}  // namespace

std::string validatedBaseDir(const std::optional<std::string>& value, std::string_view home,
                             std::string_view fallback) {
    const std::string homeText = normalizedPath(home);
    const std::string defaultDir = homePrefix(homeText) + "/" + std::string(fallback);
    if (!value || value->empty() || value->front() != '/' || hasDotComponent(*value)) {
        return defaultDir;
    }
    const std::string dir = normalizedPath(*value);
    if (dir == "/") return defaultDir;
    // The home folder itself or anything above it would put all of the user's files inside.
    if (dir == homeText || (homeText.size() > dir.size() && homeText.starts_with(dir) &&
                            homeText[dir.size()] == '/')) {
        return defaultDir;
    }
    return dir;
}

BaseDirs resolveBaseDirs(std::string_view home, const BaseDirVariables& variables) {
    const std::string base = homePrefix(normalizedPath(home));
    const WayRules rules = wayRulesFor(base.empty() ? "/" : base);
    const auto place = [&](std::string text) {
        return sweepkin::place(std::move(text), &rules, rules.ids);
    };
    // Where the home and the sandboxes really are, whatever links lead there.
    const auto seen = [&](std::string text) {
        return sweepkin::place(std::move(text), nullptr, rules.ids);
    };
    const Place homePlace = seen(base.empty() ? "/" : base);
    // Whatever lies there is an application's to write, links included.
    const std::string account = accountHome();
    const Place sandboxes[] = {seen(base + "/.var/app"), seen(base + "/snap"),
                               seen(account + "/.var/app"), seen(account + "/snap")};

    // The place unusable for any XDG folder: the home folder or above, in or above an
    // application's sandbox.
    const auto misplaced = [&](const Place& p) {
        return within(homePlace, p) ||
               std::any_of(std::begin(sandboxes), std::end(sandboxes),
                           [&](const Place& s) { return overlaps(p, s); });
    };
    const auto unusable = [&](const Place& p) { return p.refused != LeftOut::No || misplaced(p); };
    const auto resolve = [&](const std::optional<std::string>& value, std::string_view fallback) {
        Place p = place(validatedBaseDir(value, home, fallback));
        if (unusable(p)) p = place(base + "/" + std::string(fallback));
        return p;
    };
    const Place config = resolve(variables.configHome, ".config");
    const Place state = resolve(variables.stateHome, ".local/state");
    const Place data = resolve(variables.dataHome, ".local/share");

    // Everything below the cache home may be removed, so it must not share a single folder with
    // the user's settings, state or data in use here; nor may it hold the folders that the
    // applications take from the variables as they stand (a value refused here is still theirs).
    // When even the default fails, there is no cache home.
    // An application takes a relative value from wherever it was started: from the home, as a
    // desktop starts it, or from here.
    char cwd[4096];
    const std::string here = ::getcwd(cwd, sizeof cwd) != nullptr ? cwd : "";
    const auto spellings = [&](const std::string& value) {
        std::vector<std::string> out;
        if (value.empty()) return out;
        for (const std::string& spelling :
             value.front() == '/'
                 ? std::vector<std::string>{value}
                 : std::vector<std::string>{base + "/" + value, here + "/" + value}) {
            out.push_back(lexicalPath(spelling));
            out.push_back(spelling);
        }
        return out;
    };
    std::vector<Place> theirs;
    for (const auto* value : {&variables.configHome, &variables.stateHome, &variables.dataHome,
                              &variables.chromeConfigHome}) {
        if (!*value) continue;
        for (const std::string& spelling : spellings(**value)) theirs.push_back(seen(spelling));
    }
    const auto overlapping = [&](const Place& p) {
        return misplaced(p) || overlaps(p, config) || overlaps(p, state) || overlaps(p, data) ||
               std::any_of(theirs.begin(), theirs.end(),
                           [&](const Place& other) { return within(other, p); });
    };
    Place cache = resolve(variables.cacheHome, ".cache");
    if (!unusable(cache) && overlapping(cache)) cache = place(base + "/.cache");

    BaseDirs dirs{cache.text, config.text,       state.text,
                  data.text,  !unusable(config), !unusable(data)};
    dirs.inUse = {state.text, config.text, data.text};
    for (const Place& p : theirs) dirs.inUse.push_back(p.text);
    for (const Place& s : sandboxes) dirs.inUse.push_back(s.text);
    dirs.inUse.insert(dirs.inUse.end(), variables.shared.begin(), variables.shared.end());

    if (cache.refused != LeftOut::No) {
        dirs.cacheLeftOut = cache.refused;
        dirs.leftOutAt = cache.where;
    } else if (overlapping(cache)) {
        dirs.cacheLeftOut = LeftOut::Overlap;
        dirs.leftOutAt = cache.text;
    }
    if (dirs.cacheLeftOut != LeftOut::No) dirs.cacheHome.clear();

    // A tool's own variable may move its cache. The value must pass the XDG folders' checks,
    // must hold none of the XDG folders nor what the applications take from the variables as they
    // stand, nor the folder another tool's variable names for a row that keeps more beside its
    // caches there, and must pass the guard as it stands, and so must each item in it: outside
    // the cache home their names must say "cache". A default must pass the guard the same way.
    const Place cacheHome = place(base + "/.cache");
    const auto tools = toolFolders();
    const auto admitted = [&](const std::string& folder, const std::vector<std::string>& items) {
        return std::all_of(items.begin(), items.end(), [&](std::string item) {
            // A "*" stands for a name that adds nothing to what the rest of the item says.
            std::replace(item.begin(), item.end(), '*', 'x');
            return isSafeCachePath(item.empty() ? folder : folder + "/" + item, base,
                                   dirs.cacheHome);
        });
    };
    std::vector<std::pair<std::string, Place>> keepers;
    for (const auto& [tool, items] : tools) {
        const auto value = variables.tools.find(tool.name);
        if (value == variables.tools.end() || items == std::vector<std::string>{""}) continue;
        const std::vector<std::string>& named = dirs.toolsInUse[tool.name] =
            spellings(value->second);
        if (!value->second.empty() && value->second.front() == '/') {
            for (const std::string& spelling : named)
                keepers.emplace_back(tool.name, seen(spelling));
        }
    }
    for (const auto& [tool, items] : tools) {
        const auto value = variables.tools.find(tool.name);
        const std::string& toolName = tool.name;  // clang 14 captures no structured binding
        std::string folder;
        if (value != variables.tools.end()) {
            const std::string text = validatedBaseDir(value->second, home, "");
            const Place p = place(text);
            const bool holdsOthers =
                within(config, p) || within(state, p) || within(data, p) || within(cacheHome, p) ||
                (!dirs.cacheHome.empty() && within(cache, p)) ||
                std::any_of(theirs.begin(), theirs.end(),
                            [&](const Place& other) { return within(other, p); }) ||
                std::any_of(keepers.begin(), keepers.end(), [&](const auto& other) {
                    return other.first != toolName && within(other.second, p);
                });
            struct stat st;
            const bool notAFolder = ::lstat(text.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
            if (text != base + "/" && isSafeCachePath(text, base, dirs.cacheHome) &&
                admitted(text, items) && !unusable(p) && !holdsOthers && !notAFolder) {
                folder = p.text;
            }
        }
        const bool inCacheHome = tool.defaultRoot == RootKind::CacheHome;
        const std::string& under = inCacheHome ? dirs.cacheHome : base;
        if (folder.empty() && !tool.defaultFolder.empty() && (!under.empty() || !inCacheHome) &&
            admitted(under + "/" + tool.defaultFolder, items)) {
            folder = under + "/" + tool.defaultFolder;
        }
        dirs.tools[tool.name] = folder;
    }
    return dirs;
}

const BaseDirVariables& startupBaseDirVariables() {
    static const BaseDirVariables variables = [] {
        BaseDirVariables read{variable("XDG_CACHE_HOME"), variable("XDG_CONFIG_HOME"),
                              variable("XDG_STATE_HOME"), variable("XDG_DATA_HOME"),
                              variable("CHROME_CONFIG_HOME")};
        for (const char* list : {"XDG_RUNTIME_DIR", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"}) {
            std::istringstream folders(variable(list).value_or(""));
            for (std::string folder; std::getline(folders, folder, ':');) {
                if (!folder.empty() && folder.front() == '/') read.shared.push_back(folder);
            }
        }
        for (const auto& [tool, items] : toolFolders()) {
            std::optional<std::string> value = variable(tool.name.c_str());
            for (const std::string& alias : tool.aliases) {
                if (!value) value = variable(alias.c_str());
            }
            if (value) read.tools[tool.name] = *value;
        }
        return read;
    }();
    return variables;
}

BaseDirs currentBaseDirs() {
    return currentBaseDirs(homeDirectory());
}

BaseDirs currentBaseDirs(std::string_view home) {
    // The guard asks on every call; the disk is looked at once per home folder.
    static std::mutex mutex;
    static std::map<std::string, BaseDirs, std::less<>> resolved;
    std::lock_guard lock(mutex);
    auto found = resolved.find(home);
    if (found == resolved.end()) {
        found =
            resolved.emplace(std::string(home), resolveBaseDirs(home, startupBaseDirVariables()))
                .first;
    }
    return found->second;
}

bool isSafeCachePath(std::string_view path) {
    const std::string home = homeDirectory();
    return isSafeCachePath(path, home, currentBaseDirs(home).cacheHome);
}

}  // namespace sweepkin
