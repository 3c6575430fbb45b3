// The link policy's table against the resolver it replaced: both reach the items of one location
// on a small generated home, for every kind of root, and must agree on every item, the way to
// it, what sits there, what could not be reached and what was refused. A difference prints the
// input's location and aborts. (Kept only while the old resolver is kept beside the new one.)

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/fs/link_policy.h"
#include "engine/fs/resolver.h"
#include "fuzz/old/resolver.h"
#include "tests/support/tree.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& path = {}) {
    std::fprintf(stderr, "resolvers differ: %s\n  at: %s\n", what, path.c_str());
    std::abort();
}

struct ByteReader {
    const std::uint8_t* data;
    std::size_t size, pos = 0;
    std::uint8_t next() { return pos < size ? data[pos++] : 0; }
};

// Short names, so that the base folders ("a", "b", "c") and applications meet by chance.
std::string nameFrom(ByteReader& in, std::size_t maxLength) {
    static constexpr std::string_view alphabet = "abc*1x.";
    std::string name(1 + in.next() % maxLength, 'a');
    for (char& c : name) c = alphabet[in.next() % alphabet.size()];
    return name;
}

const std::string& scratchFolder() {
    static const sweepkin::fixtures::ScratchDir scratch;
    return scratch.path();
}

void buildTree(ByteReader& in, const std::string& home, const std::string& outside) {
    std::vector<std::string> folders{home, home + "/.var/app", home + "/snap", outside};
    for (const std::string& folder : folders) ::mkdir(folder.c_str(), 0700);
    for (int count = in.next() % 40; count > 0; --count) {
        const std::string parent = folders[in.next() % folders.size()];
        const std::uint8_t kind = in.next() % 8;
        const std::string name = nameFrom(in, 3);
        if (name == "." || name == "..") continue;
        const std::string path = parent + "/" + name;
        if (kind <= 2) {
            if (::mkdir(path.c_str(), 0700) == 0) folders.push_back(path);
        } else if (kind == 3) {
            if (FILE* f = std::fopen(path.c_str(), "w")) std::fclose(f);
        } else if (kind == 4) {
            (void)::symlink(folders[in.next() % folders.size()].c_str(), path.c_str());
        } else if (kind == 5) {
            static constexpr const char* kTargets[] = {"1", "x2", "a", "..", "b/c", "common", "."};
            (void)::symlink(kTargets[in.next() % std::size(kTargets)], path.c_str());
        } else if (kind == 6) {
            (void)::chmod(parent.c_str(), in.next() % 2 == 0 ? 0777 : 01777);
        } else {
            (void)::symlink("missing", path.c_str());
        }
    }
}

using Steps = std::vector<std::string>;

// The old way kept how a position takes links; the new one keeps the policy's bits.
int followCode(const sweepkin::Way::Step& step) {
    return static_cast<int>(sweepkin::followOf(step.rules)) * 2 +
           (sweepkin::entersMounts(step.rules) ? 1 : 0);
}
int followCode(const sweepkin::old::Way::Step& step) {
    const auto follow = static_cast<sweepkin::old::Follow>(step.follow);
    const bool mounts =
        follow == sweepkin::old::Follow::UsersLink || follow == sweepkin::old::Follow::Any;
    return static_cast<int>(follow) * 2 + (mounts ? 1 : 0);
}

template <typename ItemT>
Steps stepsOf(const ItemT& item) {
    Steps out{item.way->rootText};
    for (const auto& step : item.way->steps) {
        out.push_back(step.name + ":" + std::to_string(followCode(step)) + ":" +
                      std::to_string(step.id.first) + ":" + std::to_string(step.id.second));
    }
    return out;
}

// What the open descriptor of an item's parent is, or the errno when there is none.
template <typename ItemT>
std::string parentOf(const ItemT& item) {
    const sweepkin::UniqueFd fd = item.openParent();
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0) return "errno " + std::to_string(errno);
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sweepkin;
    ByteReader in{data, size};
    const std::string home = scratchFolder() + "/home", outside = scratchFolder() + "/outside";
    fixtures::removeTree(home);
    fixtures::removeTree(outside);
    buildTree(in, home, outside);

    static constexpr RootKind kKinds[] = {
        RootKind::Home,        RootKind::CacheHome,     RootKind::ConfigHome,
        RootKind::DataHome,    RootKind::FlatpakCache,  RootKind::FlatpakConfig,
        RootKind::FlatpakData, RootKind::FlatpakHome,   RootKind::SnapCommon,
        RootKind::SnapCurrent, RootKind::LibraryCaches, RootKind::ToolFolder,
    };
    const RootKind kind = kKinds[in.next() % std::size(kKinds)];
    std::string folder = nameFrom(in, 3);
    if (in.next() % 3 == 0) folder.clear();
    if (in.next() % 3 == 0) folder += "/" + nameFrom(in, 2);
    Location location{kind, kind == RootKind::ToolFolder ? "T" : nameFrom(in, 2), folder, {}};
    for (int parts = in.next() % 3; parts >= 0; --parts) {
        std::string item = nameFrom(in, 3);
        if (in.next() % 2 == 0) item += "/" + nameFrom(in, 2);
        location.items.push_back(in.next() % 5 == 0 ? std::string() : item);
    }
    const std::string tool =
        in.next() % 2 == 0 ? home + "/" + nameFrom(in, 2) : home + "/a/" + nameFrom(in, 2);
    Places places{home, home + "/a", home + "/b", home + "/c", {{"T", tool}}};
    old::Places oldPlaces{home, home + "/a", home + "/b", home + "/c", {{"T", tool}}};
    if (in.next() % 4 == 0) places.configHome = oldPlaces.configHome = {};

    Resolver resolver(places);
    old::Resolver oldResolver(oldPlaces);
    std::vector<Stayed> stayed;
    std::vector<old::Stayed> oldStayed;
    const std::vector<Item> items = resolver.items({location}, &stayed);
    const std::vector<old::Item> oldItems = oldResolver.items({location}, &oldStayed);
    if (items.size() != oldItems.size()) fail("how many items", location.folder);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string& path = items[i].path;
        if (path != oldItems[i].path || items[i].name != oldItems[i].name) fail("the item", path);
        if (stepsOf(items[i]) != stepsOf(oldItems[i])) fail("the way", path);
        if (parentOf(items[i]) != parentOf(oldItems[i])) fail("the parent reached again", path);
        const UniqueFd parent = items[i].openParent();
        if (parent &&
            static_cast<int>(classify(parent.get(), items[i].name, items[i].ids()).kind) !=
                static_cast<int>(old::classify(parent.get(), items[i].name, items[i].ids()).kind)) {
            fail("what sits there", path);
        }
    }
    if (stayed.size() != oldStayed.size()) fail("how many stayed", location.folder);
    for (std::size_t i = 0; i < stayed.size(); ++i) {
        if (stayed[i].path != oldStayed[i].path || stayed[i].why != oldStayed[i].why)
            fail("what stayed", stayed[i].path);
    }
    const Reached reached = resolver.reached({location});
    const old::Reached oldReached = oldResolver.reached({location});
    if (reached.ways != oldReached.ways || reached.items != oldReached.items)
        fail("what was reached", location.folder);
    const Opened& opened = resolver.home();
    const old::Opened& oldOpened = oldResolver.home();
    if (static_cast<int>(opened.reach) != static_cast<int>(oldOpened.reach)) fail("the home", home);
    return 0;
}
