// A clean of one location on small generated homes. The input first describes a tree below a
// private home (folders, files, links to folders inside and outside it, dangling links), then a
// location rooted at that home, whose folder and item components may hold "*". The properties:
// nothing outside the items the resolver named vanishes, what was measured is what was freed,
// and every item goes whole. No link below the home may be followed, whatever the tree. A
// violation prints the path and aborts, which the fuzzer records and the replay reports.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/fs/deletion.h"
#include "engine/fs/sizes.h"
#include "tests/support/tree.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& path = {}) {
    std::fprintf(stderr, "property violated: %s\n  path: %s\n", what, path.c_str());
    std::abort();
}

// Reads the input front to back; past the end every byte is 0.
struct ByteReader {
    const std::uint8_t* data;
    std::size_t size, pos = 0;
    std::uint8_t next() { return pos < size ? data[pos++] : 0; }
};

// Characters that are special somewhere (glob, shell, terminal) but ordinary to the matcher.
std::string nameFrom(ByteReader& in, std::size_t maxLength) {
    static constexpr std::string_view alphabet = "abcA.*?[]\\ \n\xff";
    std::string name(in.next() % (maxLength + 1), 'a');
    for (char& c : name) c = alphabet[in.next() % alphabet.size()];
    return name;
}

// Its real path, so that the way to the home holds no link; removed at exit.
const std::string& scratchFolder() {
    static const sweepkin::fixtures::ScratchDir scratch;
    return scratch.path();
}

// Up to 24 entries below the home; links may lead to "outside", beside it.
void buildTree(ByteReader& in, const std::string& home, const std::string& outside) {
    std::vector<std::string> folders{home};
    for (int count = in.next() % 25; count > 0; --count) {
        const std::string parent = folders[in.next() % folders.size()];
        const std::uint8_t kind = in.next() % 6;
        const std::string name = nameFrom(in, 4);
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
            continue;
        const std::string path = parent + "/" + name;
        if (kind <= 1) {
            if (::mkdir(path.c_str(), 0755) == 0) folders.push_back(path);
        } else if (kind == 2) {
            if (FILE* f = std::fopen(path.c_str(), "w")) {
                std::fputs(std::string(in.next(), 'x').c_str(), f);
                std::fclose(f);
            }
        } else {
            const std::string target = kind == 3   ? folders[in.next() % folders.size()]
                                       : kind == 4 ? outside
                                                   : "missing";
            (void)::symlink(target.c_str(), path.c_str());
        }
    }
}

// Every entry below `root`, by its path; links are not followed.
std::set<std::string> listing(const std::string& root) {
    std::set<std::string> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        out.insert(entry.path());
    return out;
}

bool atOrBelow(const std::string& path, const std::string& folder) {
    return path == folder || (path.starts_with(folder) && path[folder.size()] == '/');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sweepkin;
    using fixtures::removeTree;
    ByteReader in{data, size};
    const std::string home = scratchFolder() + "/home", outside = scratchFolder() + "/outside";
    removeTree(home);
    removeTree(outside);
    if (::mkdir(home.c_str(), 0700) != 0 || ::mkdir(outside.c_str(), 0755) != 0) fail("no home");
    if (FILE* f = std::fopen((outside + "/Cache").c_str(), "w")) std::fclose(f);
    buildTree(in, home, outside);

    Location location{RootKind::Home, {}, nameFrom(in, 4), {}};
    for (int parts = in.next() % 3; parts >= 0; --parts) {
        std::string item = nameFrom(in, 4);
        if (in.next() % 2 == 0) item += "/" + nameFrom(in, 3);
        location.items.push_back(item);
    }
    const auto before = listing(scratchFolder());
    Resolver resolver(Places{home});
    const std::vector<Item> items = resolver.items({location});
    // What the resolver gives is what goes: it refuses what the guard refuses.
    const std::vector<Item>& removable = items;
    const std::int64_t measured = pathsSize(removable);
    const DeleteResult result = deleteCachePaths(items);

    const auto after = listing(scratchFolder());
    for (const std::string& path : before) {
        bool named = false, goes = false;
        for (const Item& item : items) named = named || atOrBelow(path, item.path);
        for (const Item& item : removable) goes = goes || atOrBelow(path, item.path);
        const bool gone = !after.contains(path);
        if (gone != goes || (gone && !named)) {
            fail(gone ? "something outside the items vanished" : "an item was not removed whole",
                 path);
        }
    }
    if (!result.anyFailed && result.freed != measured)
        fail("what was freed is not what was measured");
    return 0;
}
