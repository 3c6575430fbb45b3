#pragma once
// Temporary trees, file builders and tree snapshots shared by the command-line tests.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace sweepkin::testing {

namespace fs = std::filesystem;

// A fresh folder under the system temp folder, removed with everything in it afterwards (even
// parts a test made read-only).
class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "sweepkin-cli-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(path_, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0700);
        }
        fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  private:
    std::string path_;
};

// A file of `size` logical bytes (sparse, so large sizes cost nothing), with its folders.
inline void makeFile(const std::string& path, std::int64_t size) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc).close();
    fs::resize_file(path, static_cast<std::uintmax_t>(size));
}

inline void writeText(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(text.substr(start, nl - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// Every entry below `root` by relative path: kind, and for files size and modification time, so
// that any file created, removed, resized or rewritten shows up as a difference.
inline std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> entries;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0) continue;
        std::string state;
        if (S_ISDIR(st.st_mode)) {
            state = "dir";
        } else if (S_ISLNK(st.st_mode)) {
            state = "link";
        } else {
            state = "file " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) +
                    "." + std::to_string(st.st_mtim.tv_nsec);
        }
        entries[it->path().lexically_relative(root).string()] = state;
    }
    return entries;
}

}  // namespace sweepkin::testing
