// A clean of one location on small generated homes. The input first describes a tree below a
// private home (folders, files, links to folders inside and outside it, dangling links), then a
// location rooted at that home, whose folder and item components may hold "*". The properties:
// nothing outside the items the resolver named vanishes, what was measured is what was freed,
// and every item goes whole. No link below the home may be followed, whatever the tree.

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/fs/deletion.h"
#include "engine/fs/safety_guard.h"
#include "engine/fs/sizes.h"
#include "fuzz/fuzz_check.h"

namespace {

// Reads the input front to back; past the end every byte is 0.
class ByteReader {
  public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Characters that are special somewhere (glob, shell, terminal) but ordinary to the matcher.
constexpr std::string_view nameAlphabet = "abcA.*?[]\\ \n\xff";

std::string nameFrom(ByteReader& in, std::size_t maxLength) {
    const std::size_t length = in.next() % (maxLength + 1);
    std::string name;
    for (std::size_t i = 0; i < length; ++i) name += nameAlphabet[in.next() % nameAlphabet.size()];
    return name;
}

int removeEntry(const char* path, const struct stat*, int, FTW*) {
    ::remove(path);
    return 0;
}

void removeTree(const std::string& path) {
    ::nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

const std::string& scratchFolder() {
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/sweepkin-fuzz-XXXXXX";
        if (::mkdtemp(templ.data()) == nullptr)
            sweepkin::fuzz::fail("cannot create a scratch folder");
        // Its real path, so that the way to the home holds no link.
        char* real = ::realpath(templ.c_str(), nullptr);
        if (real == nullptr) sweepkin::fuzz::fail("cannot resolve the scratch folder");
        templ = real;
        std::free(real);
        return templ;
    }();
    static const bool removedAtExit = std::atexit([] { removeTree(scratchFolder()); }) == 0;
    (void)removedAtExit;
    return folder;
}

bool usable(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Up to 24 entries below the home; links may lead to "outside", beside it.
void buildTree(ByteReader& in, const std::string& home, const std::string& outside) {
    std::vector<std::string> folders{home};
    const int count = in.next() % 25;
    for (int i = 0; i < count; ++i) {
        const std::string parent = folders[in.next() % folders.size()];
        const std::uint8_t kind = in.next() % 6;
        const std::string name = nameFrom(in, 4);
        if (!usable(name)) continue;
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

// Every entry below `root`, by its path, with its size; links are not followed.
std::map<std::string, off_t> listing(const std::string& root) {
    static std::map<std::string, off_t>* out;
    std::map<std::string, off_t> entries;
    out = &entries;
    ::nftw(
        root.c_str(),
        [](const char* path, const struct stat* st, int, FTW*) {
            (*out)[path] = st->st_size;
            return 0;
        },
        16, FTW_PHYS);
    return entries;
}

bool atOrBelow(const std::string& path, const std::string& folder) {
    return path == folder || (path.starts_with(folder) && path[folder.size()] == '/');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sweepkin;
    ByteReader in(data, size);
    const std::string home = scratchFolder() + "/home", outside = scratchFolder() + "/outside";
    removeTree(home);
    removeTree(outside);
    if (::mkdir(home.c_str(), 0700) != 0 || ::mkdir(outside.c_str(), 0755) != 0) {
        fuzz::fail("cannot create the home");
    }
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
    // The guard turns some generated names away; the catalogue's never.
    std::vector<Item> guarded;
    for (const Item& item : items) {
        if (isSafeCachePath(item.path)) guarded.push_back(item);
    }
    const std::int64_t measured = pathsSize(guarded);
    // A link to nothing is nothing to remove: it stays.
    std::vector<bool> dangling;
    for (const Item& item : items) {
        struct stat st;
        dangling.push_back(::stat(item.path.c_str(), &st) != 0);
    }
    const DeleteResult result = deleteCachePaths(items);

    const auto after = listing(scratchFolder());
    for (const auto& [path, bytes] : before) {
        bool named = false, removable = false;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (!atOrBelow(path, items[i].path)) continue;
            named = true;
            removable = removable || (isSafeCachePath(items[i].path) && !dangling[i]);
        }
        const bool gone = !after.contains(path);
        if (gone != removable || (gone && !named)) {
            fuzz::printEscaped("path", path);
            fuzz::fail(gone ? "something outside the items vanished"
                            : "an item was not removed whole");
        }
    }
    if (!result.anyFailed && result.freed != measured) {
        fuzz::fail("what was freed is not what was measured");
    }
    return 0;
}
