#include "tests/support/tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sweepkin::hardening {

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

void makeParent(const std::string& path) {
    if (const std::size_t slash = path.rfind('/'); slash != 0 && slash != std::string::npos) {
        makeDirs(path.substr(0, slash));
    }
}

// Kind, mode, size, FNV-1a hash of the content or link target, and modification time. Never
// follows a link, never opens fifos, sockets or devices.
std::string describe(int dirFd, const std::string& name, const struct stat& st) {
    std::uint64_t hash = 14695981039346656037ull;
    const auto mix = [&hash](const char* data, ssize_t size) {
        for (ssize_t i = 0; i < size; ++i)
            hash = (hash ^ static_cast<unsigned char>(data[i])) * 1099511628211ull;
    };
    char buffer[65536];
    if (S_ISREG(st.st_mode)) {
        Fd file(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        for (ssize_t got; file.valid() && (got = ::read(file.get(), buffer, sizeof buffer)) > 0;) {
            mix(buffer, got);
        }
    } else if (S_ISLNK(st.st_mode)) {
        mix(buffer, ::readlinkat(dirFd, name.c_str(), buffer, sizeof buffer));
    }
    char text[160];
    std::snprintf(text, sizeof text, "type=%o mode=%o size=%lld hash=%016llx mtime=%lld.%09ld",
                  static_cast<unsigned>(st.st_mode & S_IFMT),
                  static_cast<unsigned>(st.st_mode & 07777), static_cast<long long>(st.st_size),
                  static_cast<unsigned long long>(hash), static_cast<long long>(st.st_mtim.tv_sec),
                  st.st_mtim.tv_nsec);
    return text;
}

void fingerprintInto(int dirFd, const std::string& prefix, Fingerprint& out) {
    DIR* dir = ::fdopendir(::openat(dirFd, ".", kDirFlags));
    while (const dirent* entry = dir != nullptr ? ::readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string rel = prefix.empty() ? name : prefix + "/" + name;
        struct stat st {};
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            out[rel] = "unreadable";
            continue;
        }
        out[rel] = describe(dirFd, name, st);
        if (Fd child(S_ISDIR(st.st_mode) ? ::openat(dirFd, name.c_str(), kDirFlags) : -1);
            child.valid()) {
            fingerprintInto(child.get(), rel, out);
        }
    }
    if (dir != nullptr) ::closedir(dir);
}

}  // namespace

ScratchDir::ScratchDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/sweepkin-test-XXXXXX";
    if (::mkdtemp(templ.data()) != nullptr) path_ = templ;
}

ScratchDir::~ScratchDir() {
    if (!path_.empty()) removeTree(path_);
}

ScopedHome::ScopedHome(const std::string& home) {
    if (const char* old = std::getenv("HOME")) previous_ = old, hadPrevious_ = true;
    ::setenv("HOME", home.c_str(), 1);
}

ScopedHome::~ScopedHome() {
    hadPrevious_ ? ::setenv("HOME", previous_.c_str(), 1) : ::unsetenv("HOME");
}

void makeDirs(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0755);
    }
    ::mkdir(path.c_str(), 0755);
}

std::int64_t writeFileAt(int dirFd, const std::string& name, std::int64_t bytes) {
    Fd file(::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    const std::string chunk(static_cast<std::size_t>(std::min<std::int64_t>(bytes, 1 << 20)), 'x');
    for (std::int64_t left = bytes; left > 0;) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, chunk.size()));
        const ssize_t written = file.valid() ? ::write(file.get(), chunk.data(), n) : -1;
        if (written <= 0) return -1;
        left -= written;
    }
    return file.valid() ? bytes : -1;
}

std::int64_t writeFile(const std::string& path, std::int64_t bytes) {
    makeParent(path);
    return writeFileAt(AT_FDCWD, path, bytes);
}

void writeText(const std::string& path, const std::string& text) {
    makeParent(path);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string readText(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(text.substr(start, nl - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::int64_t makeDeepChain(const std::string& root, int depth) {
    Fd dir(::open(root.c_str(), kDirFlags));
    for (int level = 0; level < depth && dir.valid(); ++level) {
        if (::mkdirat(dir.get(), "d", 0755) != 0) return -1;
        dir = Fd(::openat(dir.get(), "d", kDirFlags));
        if (writeFileAt(dir.get(), "f", 1) != 1) return -1;
    }
    return dir.valid() ? depth : -1;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The paths here come from mkdtemp and the tests' own names, none with a quote. GNU chmod and rm
// walk by descriptor, so depth and length do not matter.
void removeTree(const std::string& path) {
    const std::string command =
        "chmod -R u+rwx '" + path + "' 2>/dev/null; rm -rf '" + path + "' 2>/dev/null";
    [[maybe_unused]] const int status = std::system(command.c_str());
}

void chownTree(const std::string& path, uid_t uid, gid_t gid) {
    const std::string command =
        "chown -hR " + std::to_string(uid) + ":" + std::to_string(gid) + " '" + path + "'";
    [[maybe_unused]] const int status = std::system(command.c_str());
}

Fingerprint fingerprint(const std::string& root) {
    Fingerprint out;
    struct stat st {};
    if (::lstat(root.c_str(), &st) != 0) return out;
    out["."] = describe(AT_FDCWD, root, st);
    if (Fd top(::open(root.c_str(), kDirFlags)); top.valid()) fingerprintInto(top.get(), "", out);
    return out;
}

bool dropPrivileges() {
    return ::setgroups(0, nullptr) == 0 && ::setresgid(kNobodyGid, kNobodyGid, kNobodyGid) == 0 &&
           ::setresuid(kNobodyUid, kNobodyUid, kNobodyUid) == 0 && ::geteuid() == kNobodyUid;
}

void giveToNobody(const std::string& root) {
    if (::geteuid() == 0) chownTree(root, kNobodyUid, kNobodyGid);
}

ChildOutcome runInChild(const std::function<std::string()>& body, unsigned timeoutSeconds) {
    ChildOutcome outcome;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return outcome;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        ::signal(SIGALRM, SIG_DFL);
        ::alarm(timeoutSeconds);
        const std::string out = body();
        for (std::size_t done = 0; done < out.size();) {
            const ssize_t n = ::write(pipeFds[1], out.data() + done, out.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    char buffer[4096];
    for (ssize_t got; pid > 0 && (got = ::read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (got > 0) outcome.output.append(buffer, static_cast<std::size_t>(got));
        if (got < 0 && errno != EINTR) break;
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    outcome.exitedNormally = pid > 0 && WIFEXITED(status);
    outcome.signal = pid > 0 && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return outcome;
}

}  // namespace sweepkin::hardening
