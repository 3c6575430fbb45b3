// Pattern expansion on small generated trees. The input first describes a tree (folders, files,
// links to folders, dangling links) built in a private temporary folder, then a pattern below that
// folder. The expansion is compared with a straightforward walk of the same tree.

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/pattern.h"
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
        // Its real path: a link on the way (a TMPDIR behind one) would not be followed.
        char* real = ::realpath(templ.c_str(), nullptr);
        if (real == nullptr) sweepkin::fuzz::fail("cannot resolve the scratch folder");
        templ = real;
        std::free(real);
        return templ;
    }();
    // Registered once `folder` is complete, so it runs before `folder` is destroyed.
    static const bool removedAtExit = std::atexit([] { removeTree(scratchFolder()); }) == 0;
    (void)removedAtExit;
    return folder;
}

// Builds up to 24 entries below `root`; returns nothing, entries that cannot be made are skipped.
void buildTree(ByteReader& in, const std::string& root) {
    std::vector<std::string> folders{root};
    const int count = in.next() % 25;
    for (int i = 0; i < count; ++i) {
        const std::string& parent = folders[in.next() % folders.size()];
        const std::uint8_t kind = in.next() % 5;
        std::string name = nameFrom(in, 4);
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
            continue;
        }
        const std::string path = parent + "/" + name;
        switch (kind) {
            case 0:
            case 1:
                if (::mkdir(path.c_str(), 0755) == 0) folders.push_back(path);
                break;
            case 2:
                if (FILE* f = std::fopen(path.c_str(), "w")) std::fclose(f);
                break;
            case 3: {
                const std::string& target = folders[in.next() % folders.size()];
                (void)::symlink(target.c_str(), path.c_str());
                break;
            }
            default:
                (void)::symlink("missing-target", path.c_str());
                break;
        }
    }
}

// Components after the scratch folder: never "..", so the walk cannot leave the scratch folder.
std::string patternFrom(ByteReader& in, const std::string& root) {
    std::string pattern = root;
    const int count = in.next() % 4 + 1;
    for (int i = 0; i < count; ++i) {
        std::string component = nameFrom(in, 4);
        if (component == "..") component = "*";
        pattern += "/" + component;
    }
    if (in.next() % 4 == 0) pattern += "/";
    return pattern;
}

std::vector<std::string> componentsOf(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// The scratch folder lies outside every folder whose links only the user makes, so no link on
// the way is followed, and no "." or ".." component is passed; only a final link counts when
// what it names is there.
bool plainWay(const std::string& path, bool lastToo) {
    const auto parts = componentsOf(path);
    std::string way;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i] == "." || parts[i] == "..") return false;
        if (i + 1 == parts.size() && !lastToo) break;
        way += "/" + parts[i];
        struct stat st {};
        if (::lstat(way.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    }
    return true;
}

bool existsFollowing(const std::string& path) {
    struct stat st {};
    return plainWay(path, false) && ::stat(path.c_str(), &st) == 0;
}

std::string join(const std::string& base, const std::string& name) {
    return base == "/" ? "/" + name : base + "/" + name;
}

// The walk written out plainly: one listing per candidate per wildcard component, one existence
// test per candidate per literal component.
std::vector<std::string> referenceExpand(const std::string& pattern) {
    if (pattern.find('*') == std::string::npos) {
        return existsFollowing(pattern) ? std::vector<std::string>{pattern}
                                        : std::vector<std::string>{};
    }
    std::vector<std::string> candidates{"/"};
    for (const std::string& component : componentsOf(pattern)) {
        std::vector<std::string> next;
        for (const std::string& candidate : candidates) {
            if (component.find('*') == std::string::npos) {
                if (existsFollowing(join(candidate, component))) {
                    next.push_back(join(candidate, component));
                }
                continue;
            }
            if (!plainWay(candidate, true)) continue;
            DIR* dir = ::opendir(candidate.c_str());
            if (dir == nullptr) continue;
            while (const dirent* entry = ::readdir(dir)) {
                const std::string name = entry->d_name;
                if (name == "." || name == "..") continue;
                if (sweepkin::wildcardMatch(component, name)) next.push_back(join(candidate, name));
            }
            ::closedir(dir);
        }
        candidates.swap(next);
        if (candidates.empty()) break;
    }
    return candidates;
}

void reportList(const char* label, const std::vector<std::string>& paths) {
    std::fprintf(stderr, "  %s: %zu paths\n", label, paths.size());
    for (const auto& path : paths) sweepkin::fuzz::printEscaped("path", path);
}

[[noreturn]] void report(const char* what, const std::string& pattern,
                         const std::vector<std::string>& got,
                         const std::vector<std::string>& expected) {
    sweepkin::fuzz::printEscaped("pattern", pattern);
    reportList("expandPattern", got);
    reportList("expected", expected);
    sweepkin::fuzz::fail(what);
}

void checkPattern(const std::string& pattern) {
    const std::vector<std::string> got = sweepkin::expandPattern(pattern);
    const std::vector<std::string> expected = referenceExpand(pattern);
    const bool wildcard = pattern.find('*') != std::string::npos;

    std::set<std::string> seen;
    for (const std::string& path : got) {
        if (!seen.insert(path).second) report("a path is listed twice", pattern, got, expected);
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            report("a listed path does not exist", pattern, got, expected);
        }
        if (wildcard && (path.ends_with('/') || path.find("//") != std::string::npos)) {
            report("a wildcard result carries a stray slash", pattern, got, expected);
        }
        if (wildcard) {
            const auto want = componentsOf(pattern);
            const auto have = componentsOf(path);
            if (want.size() != have.size()) {
                report("a result has another depth than its pattern", pattern, got, expected);
            }
            for (std::size_t i = 0; i < want.size(); ++i) {
                const bool ok = want[i].find('*') == std::string::npos
                                    ? want[i] == have[i]
                                    : sweepkin::wildcardMatch(want[i], have[i]);
                if (!ok) report("a result component does not match", pattern, got, expected);
            }
        }
    }
    if (std::multiset<std::string>(got.begin(), got.end()) !=
        std::multiset<std::string>(expected.begin(), expected.end())) {
        report("expandPattern differs from a plain walk of the tree", pattern, got, expected);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const std::string root = scratchFolder() + "/t";
    removeTree(root);
    if (::mkdir(root.c_str(), 0755) != 0) sweepkin::fuzz::fail("cannot create the tree root");
    buildTree(in, root);

    const std::string first = patternFrom(in, root);
    const std::string second = patternFrom(in, root);
    checkPattern(first);
    checkPattern(second);

    // Duplicates are dropped across patterns, in first-seen order.
    std::vector<std::string> expected;
    std::set<std::string> seen;
    for (const std::string* pattern : {&first, &second, &first}) {
        for (const std::string& path : sweepkin::expandPattern(*pattern)) {
            if (seen.insert(path).second) expected.push_back(path);
        }
    }
    const std::vector<std::string> got = sweepkin::expandPatterns({first, second, first});
    if (got != expected) {
        report("expandPatterns does not keep first-seen order without duplicates", first, got,
               expected);
    }
    return 0;
}
