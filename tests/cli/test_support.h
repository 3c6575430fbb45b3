#pragma once
// The command-line tests' additions to the shared file-tree fixtures.

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "tests/support/tree.h"

namespace sweepkin::testing {

namespace fs = std::filesystem;
using namespace sweepkin::hardening;
using TempDir = ScratchDir;

// A file of `size` logical bytes (sparse, so large sizes cost nothing), with its folders.
inline void makeFile(const std::string& path, std::int64_t size) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc).close();
    fs::resize_file(path, static_cast<std::uintmax_t>(size));
}

// Every entry below `root` by relative path: kind, and for files size and modification time.
// Unlike fingerprint(), folders' own times are left out and file contents are not read.
inline std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> entries;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0) continue;
        std::string state = S_ISDIR(st.st_mode) ? "dir" : S_ISLNK(st.st_mode) ? "link" : "file ";
        if (state == "file ") {
            state += std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                     std::to_string(st.st_mtim.tv_nsec);
        }
        entries[it->path().lexically_relative(root).string()] = state;
    }
    return entries;
}

}  // namespace sweepkin::testing
