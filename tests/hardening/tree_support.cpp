#include "tests/hardening/tree_support.h"

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
#include <cstring>
#include <string_view>
#include <vector>

namespace sweepkin::hardening {

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The names in a folder, "." and ".." excluded; the descriptor stays usable.
std::vector<std::string> namesIn(int dirFd) {
    std::vector<std::string> names;
    const int copy = ::openat(dirFd, ".", kDirFlags);
    if (copy < 0) return names;
    DIR* dir = ::fdopendir(copy);
    if (dir == nullptr) {
        ::close(copy);
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

Fd openFolderAt(int dirFd, const std::string& name) {
    int fd = ::openat(dirFd, name.c_str(), kDirFlags);
    if (fd < 0 && errno == EACCES) {
        ::fchmodat(dirFd, name.c_str(), 0700, 0);
        fd = ::openat(dirFd, name.c_str(), kDirFlags);
    }
    return Fd(fd);
}

void removeContents(int dirFd) {
    ::fchmod(dirFd, 0700);
    for (const std::string& name : namesIn(dirFd)) {
        struct stat st {};
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (Fd child = openFolderAt(dirFd, name); child.valid()) removeContents(child.get());
            ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
        } else {
            ::unlinkat(dirFd, name.c_str(), 0);
        }
    }
}

void chownContents(int dirFd, uid_t uid, gid_t gid) {
    for (const std::string& name : namesIn(dirFd)) {
        ::fchownat(dirFd, name.c_str(), uid, gid, AT_SYMLINK_NOFOLLOW);
        struct stat st {};
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
            if (Fd child = openFolderAt(dirFd, name); child.valid()) {
                chownContents(child.get(), uid, gid);
            }
        }
    }
}

std::uint64_t fnv1a(std::uint64_t hash, const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= static_cast<unsigned char>(data[i]);
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string describe(int dirFd, const std::string& name, const struct stat& st) {
    std::uint64_t hash = 14695981039346656037ull;
    char kind = '?';
    if (S_ISREG(st.st_mode)) {
        kind = 'f';
        Fd file(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        char buffer[65536];
        ssize_t got = 0;
        while (file.valid() && (got = ::read(file.get(), buffer, sizeof buffer)) > 0) {
            hash = fnv1a(hash, buffer, static_cast<std::size_t>(got));
        }
        if (!file.valid()) hash = 0;
    } else if (S_ISLNK(st.st_mode)) {
        kind = 'l';
        char target[8192];
        const ssize_t n = ::readlinkat(dirFd, name.c_str(), target, sizeof target);
        if (n > 0) hash = fnv1a(hash, target, static_cast<std::size_t>(n));
    } else if (S_ISDIR(st.st_mode)) {
        kind = 'd';
    } else if (S_ISFIFO(st.st_mode)) {
        kind = 'p';
    } else if (S_ISSOCK(st.st_mode)) {
        kind = 's';
    }
    char text[160];
    std::snprintf(text, sizeof text, "%c mode=%o size=%lld hash=%016llx mtime=%lld.%09ld", kind,
                  static_cast<unsigned>(st.st_mode & 07777), static_cast<long long>(st.st_size),
                  static_cast<unsigned long long>(hash), static_cast<long long>(st.st_mtim.tv_sec),
                  st.st_mtim.tv_nsec);
    return text;
}

void fingerprintInto(int dirFd, const std::string& prefix, Fingerprint& out) {
    for (const std::string& name : namesIn(dirFd)) {
        struct stat st {};
        const std::string rel = prefix.empty() ? name : prefix + "/" + name;
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            out[rel] = "unreadable";
            continue;
        }
        out[rel] = describe(dirFd, name, st);
        if (S_ISDIR(st.st_mode)) {
            Fd child(::openat(dirFd, name.c_str(), kDirFlags));
            if (child.valid()) fingerprintInto(child.get(), rel, out);
        }
    }
}

}  // namespace

ScratchDir::ScratchDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/sweepkin-hard-XXXXXX";
    if (::mkdtemp(templ.data()) != nullptr) path_ = templ;
}

ScratchDir::~ScratchDir() {
    if (!path_.empty()) removeTree(path_);
}

ScopedHome::ScopedHome(const std::string& home) {
    if (const char* old = std::getenv("HOME")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    ::setenv("HOME", home.c_str(), 1);
}

ScopedHome::~ScopedHome() {
    if (hadPrevious_) {
        ::setenv("HOME", previous_.c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
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
    if (!file.valid()) return -1;
    std::string chunk(static_cast<std::size_t>(std::min<std::int64_t>(bytes, 1 << 20)), 'x');
    for (std::int64_t left = bytes; left > 0;) {
        const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, chunk.size()));
        const ssize_t written = ::write(file.get(), chunk.data(), n);
        if (written <= 0) return -1;
        left -= written;
    }
    return bytes;
}

std::int64_t writeFile(const std::string& path, std::int64_t bytes) {
    return writeFileAt(AT_FDCWD, path, bytes);
}

void writeText(const std::string& path, const std::string& text) {
    Fd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (file.valid()) (void)!::write(file.get(), text.data(), text.size());
}

std::string readText(const std::string& path) {
    Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::string text;
    char buffer[65536];
    ssize_t got = 0;
    while (file.valid() && (got = ::read(file.get(), buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void removeTree(const std::string& path) {
    Fd top(::open(path.c_str(), kDirFlags));
    if (!top.valid() && errno == EACCES) {
        ::chmod(path.c_str(), 0700);
        top = Fd(::open(path.c_str(), kDirFlags));
    }
    if (!top.valid()) {
        ::unlink(path.c_str());
        return;
    }
    removeContents(top.get());
    top = Fd();
    ::rmdir(path.c_str());
}

void chownTree(const std::string& path, uid_t uid, gid_t gid) {
    ::lchown(path.c_str(), uid, gid);
    if (Fd top(::open(path.c_str(), kDirFlags)); top.valid()) chownContents(top.get(), uid, gid);
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

ChildOutcome runInChild(const std::function<std::string()>& body, unsigned timeoutSeconds) {
    ChildOutcome outcome;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return outcome;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return outcome;
    }
    if (pid == 0) {
        ::close(pipeFds[0]);
        ::signal(SIGALRM, SIG_DFL);
        ::alarm(timeoutSeconds);
        const std::string out = body();
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = ::write(pipeFds[1], out.data() + done, out.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) != 0) {
        if (got < 0) {
            if (errno == EINTR) continue;
            break;
        }
        outcome.output.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        outcome.exitedNormally = true;
        outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
    return outcome;
}

}  // namespace sweepkin::hardening
