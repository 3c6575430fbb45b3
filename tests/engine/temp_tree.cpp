#include "tests/engine/temp_tree.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace sweepkin::test {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/sweepkin-engine-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    // Trees here can be far deeper than PATH_MAX and hold read-only folders; rm copes with both.
    const std::string command =
        "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
    [[maybe_unused]] int status = std::system(command.c_str());
}

ScopedHome::ScopedHome(const std::string& home) {
    if (const char* old = std::getenv("HOME")) {
        hadHome_ = true;
        saved_ = old;
    }
    ::setenv("HOME", home.c_str(), 1);
}

ScopedHome::~ScopedHome() {
    if (hadHome_) {
        ::setenv("HOME", saved_.c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
}

void writeFile(const std::string& path, std::int64_t size) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string chunk(64 * 1024, 'x');
    for (std::int64_t left = size; left > 0;) {
        const auto n = static_cast<std::streamsize>(std::min<std::int64_t>(left, chunk.size()));
        out.write(chunk.data(), n);
        left -= n;
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

void makeDirs(const std::string& path) {
    fs::create_directories(path);
}

void makeLink(const std::string& target, const std::string& linkPath) {
    fs::create_directories(fs::path(linkPath).parent_path());
    if (::symlink(target.c_str(), linkPath.c_str()) != 0) {
        throw std::runtime_error("cannot link " + linkPath);
    }
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).string();
        if (entry.is_symlink()) {
            entries[relative] = "link:" + fs::read_symlink(entry.path()).string();
        } else if (entry.is_directory()) {
            entries[relative] = "dir";
        } else {
            std::ifstream in(entry.path(), std::ios::binary);
            entries[relative] = "file:" + std::string(std::istreambuf_iterator<char>(in), {});
        }
    }
    return entries;
}

std::int64_t referenceSize(const std::string& root) {
    std::int64_t total = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file(/*follows links*/) && !entry.is_symlink()) {
            total += static_cast<std::int64_t>(entry.file_size());
        }
    }
    return total;
}

void makeDeepChain(const std::string& root, int depth) {
    int dir = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) throw std::runtime_error("cannot open " + root);
    for (int level = 0; level < depth; ++level) {
        if (::mkdirat(dir, "d", 0755) != 0) throw std::runtime_error("mkdirat failed");
        const int child = ::openat(dir, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(dir);
        if (child < 0) throw std::runtime_error("openat failed");
        dir = child;
        const int file = ::openat(dir, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (file < 0 || ::write(file, "x", 1) != 1) throw std::runtime_error("write failed");
        ::close(file);
    }
    ::close(dir);
}

bool runningAsRoot() {
    return ::geteuid() == 0;
}

void giveToNobody(const std::string& root) {
    if (!runningAsRoot()) return;
    const std::string command = "chown -R 65534:65534 '" + root + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("chown failed");
}

ChildResult runInChild(const std::function<void(std::int64_t out[4])>& body, bool dropToNobody) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
    const pid_t pid = ::fork();
    if (pid < 0) return {};
    if (pid == 0) {
        ::close(pipeFds[0]);
        if (dropToNobody && runningAsRoot()) {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                ::setresuid(65534, 65534, 65534) != 0) {
                ::_exit(3);
            }
        }
        std::int64_t out[4] = {0, 0, 0, 0};
        body(out);
        if (::write(pipeFds[1], out, sizeof out) != static_cast<ssize_t>(sizeof out)) ::_exit(4);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    ChildResult result;
    const ssize_t got = ::read(pipeFds[0], result.values, sizeof result.values);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.ok = got == static_cast<ssize_t>(sizeof result.values) && WIFEXITED(status) &&
                WEXITSTATUS(status) == 0;
    return result;
}

}  // namespace sweepkin::test
