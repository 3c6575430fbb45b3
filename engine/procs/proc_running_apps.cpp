#include "engine/procs/proc_running_apps.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string_view>
#include <system_error>

#include "engine/catalogue/pattern.h"
#include "engine/fs/home.h"
#include "engine/fs/unique_fd.h"

namespace sweepkin {

namespace {

using Dir = std::unique_ptr<DIR, int (*)(DIR*)>;

Dir openDirAt(int dirFd, const char* name) {
    const int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (dir == nullptr && fd >= 0) ::close(fd);
    return Dir(dir, ::closedir);
}

// The number at the start of `text` after blanks; with `whole`, only when nothing follows it.
template <typename N>
std::optional<N> numberIn(std::string_view text, bool whole) {
    text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
    N value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || (whole && end != text.data() + text.size())) return std::nullopt;
    return value;
}

// A /proc entry named by a number: a process id, a descriptor.
std::optional<int> numberNamed(const char* name) {
    if (*name < '0' || *name > '9') return std::nullopt;
    return numberIn<int>(name, true);
}

std::optional<std::string> readSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return content.str();
}

// A file of the process whose /proc folder `procFd` is: once its process has gone, such a
// descriptor reads nothing, even when the pid has been given to another.
std::optional<std::string> readSmallFileAt(int procFd, const char* name) {
    UniqueFd fd(::openat(procFd, name, O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    std::string content;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd.get(), buffer, sizeof buffer)) > 0 && content.size() < 65536) {
        content.append(buffer, static_cast<std::size_t>(n));
    }
    if (n < 0) return std::nullopt;
    return content;
}

std::optional<std::string> readProcFile(int pid, const char* name) {
    return readSmallFile("/proc/" + std::to_string(pid) + "/" + name);
}

// The real uid, the first number of the "Uid:" line of /proc/PID/status.
std::optional<uid_t> uidOf(const std::optional<std::string>& status) {
    if (!status) return std::nullopt;
    std::istringstream lines(*status);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Uid:", 0) == 0) {
            return numberIn<uid_t>(std::string_view(line).substr(4), false);
        }
    }
    return std::nullopt;
}

std::optional<uid_t> realUid(int pid) {
    return uidOf(readProcFile(pid, "status"));
}

struct StatFields {
    char state = '?';
    std::uint64_t startTime = 0;
};

// Field 3 (state) and field 22 (start time in clock ticks after boot) of /proc/PID/stat. With the
// pid the start time names one process for the life of the system. The command name (field 2)
// may contain spaces and parentheses, so the fields are counted from the last ')'.
std::optional<StatFields> statFieldsOf(const std::optional<std::string>& stat) {
    if (!stat) return std::nullopt;
    const auto close = stat->rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(stat->substr(close + 1));
    StatFields result;
    std::string field;
    for (int i = 3; i <= 22; ++i) {
        if (!(fields >> field)) return std::nullopt;
        if (i == 3) result.state = field.empty() ? '?' : field[0];
    }
    const auto started = numberIn<std::uint64_t>(field, true);
    if (!started) return std::nullopt;
    result.startTime = *started;
    return result;
}

std::optional<StatFields> statFields(int pid) {
    return statFieldsOf(readProcFile(pid, "stat"));
}

std::optional<std::uint64_t> startTime(int pid) {
    const auto fields = statFields(pid);
    if (!fields) return std::nullopt;
    return fields->startTime;
}

struct Executable {
    std::string path;  // empty when the link cannot be read
    std::string name;
};

// The executable's path and file name; a replaced executable reads "path (deleted)". Falls back
// to the kernel's command name (and no path) when the link cannot be read.
std::optional<Executable> executable(int pid) {
    const std::string base = "/proc/" + std::to_string(pid);
    char target[4096];
    const ssize_t n = ::readlink((base + "/exe").c_str(), target, sizeof target - 1);
    if (n > 0) {
        std::string path(target, static_cast<size_t>(n));
        static const std::string deleted = " (deleted)";
        if (path.ends_with(deleted)) path.erase(path.size() - deleted.size());
        const auto slash = path.rfind('/');
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        return Executable{std::move(path), std::move(name)};
    }
    auto comm = readSmallFile(base + "/comm");
    if (!comm) return std::nullopt;
    while (!comm->empty() && comm->back() == '\n') comm->pop_back();
    return Executable{{}, std::move(*comm)};
}

// Component by component; "*" matches within one component only, so a pattern for
// "/snap/chromium/*/..." never reaches into another folder level.
bool pathMatches(std::string_view pattern, std::string_view path) {
    for (;;) {
        const auto patternSlash = pattern.find('/'), pathSlash = path.find('/');
        if (!wildcardMatch(pattern.substr(0, patternSlash), path.substr(0, pathSlash)))
            return false;
        if (patternSlash == std::string_view::npos || pathSlash == std::string_view::npos) {
            return patternSlash == pathSlash;
        }
        pattern.remove_prefix(patternSlash + 1);
        path.remove_prefix(pathSlash + 1);
    }
}

// The "name=" of the "[Application]" section of the sandbox's /.flatpak-info. The sandbox's
// files are the application's to shape, so only a regular file is read, never through a link
// and never waiting on a fifo.
std::optional<std::string> flatpakAppID(int pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/root/.flatpak-info";
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::string info(16384, '\0');
    const ssize_t n = ::read(fd.get(), info.data(), info.size());
    if (n <= 0) return std::nullopt;
    info.resize(static_cast<std::size_t>(n));
    std::istringstream lines(info);
    bool inApplication = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with('[')) {
            inApplication = line == "[Application]";
        } else if (inApplication && line.starts_with("name=")) {
            return line.substr(5);
        }
    }
    return std::nullopt;
}

bool contains(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool matchesByExecutable(const ProcessRule& rule, const Executable& exe) {
    if (contains(rule.names, exe.name)) return true;
    return !exe.path.empty() && std::any_of(rule.paths.begin(), rule.paths.end(),
                                            [&](auto& p) { return pathMatches(p, exe.path); });
}

// Helper processes carry "--type=..." (Chromium, Electron) or "-contentproc" (Firefox) among
// their arguments; only the main process may be asked to quit, it takes its helpers with it.
// Both browsers rewrite a helper's command line into one string of space-separated words.
bool isHelperProcess(const std::optional<std::string>& cmdline) {
    if (!cmdline) return false;
    std::size_t start = 0;
    while (start < cmdline->size()) {
        std::size_t end = cmdline->find_first_of(std::string_view("\0 ", 2), start);
        if (end == std::string::npos) end = cmdline->size();
        const std::string_view argument(cmdline->data() + start, end - start);
        if (argument.starts_with("--type=") || argument == "-contentproc") return true;
        start = end + 1;
    }
    return false;
}

// The working folder and the files the process holds open, as the kernel names them: only the
// links in /proc/PID/fd and /proc/PID/cwd are read, nothing they name is opened or looked at.
// Pipes, sockets and the like have no path and are left out.
std::vector<std::string> heldPaths(int pidDir) {
    std::vector<std::string> held;
    const auto read = [&held](int dirFd, const char* name) {
        char target[4096];
        const ssize_t n = ::readlinkat(dirFd, name, target, sizeof target - 1);
        if (n <= 0 || target[0] != '/') return;
        std::string path(target, static_cast<std::size_t>(n));
        static const std::string deleted = " (deleted)";
        if (path.ends_with(deleted)) path.erase(path.size() - deleted.size());
        held.push_back(std::move(path));
    };
    read(pidDir, "cwd");
    const Dir fds = openDirAt(pidDir, "fd");
    if (!fds) return held;
    while (const dirent* de = ::readdir(fds.get())) {
        if (numberNamed(de->d_name)) read(::dirfd(fds.get()), de->d_name);
    }
    return held;
}

// Some path at or below one of the folders.
bool holdsAny(const std::vector<std::string>& held, const std::vector<std::string>& folders) {
    return std::any_of(held.begin(), held.end(), [&](const std::string& path) {
        return std::any_of(folders.begin(), folders.end(), [&](const std::string& folder) {
            // An empty or relative text, or "/", would be everyone's.
            return folder.size() > 1 && folder[0] == '/' && path.starts_with(folder) &&
                   (path.size() == folder.size() || path[folder.size()] == '/');
        });
    });
}

// The "PPid:" line of /proc/PID/status.
std::optional<int> parentOf(const std::optional<std::string>& status) {
    if (!status) return std::nullopt;
    const auto at = status->find("\nPPid:");
    if (at == std::string::npos) return std::nullopt;
    const auto parent = numberIn<int>(std::string_view(*status).substr(at + 6), false);
    return parent && *parent > 0 ? parent : std::nullopt;
}

// The main process a helper belongs to: the nearest ancestor of the user's that runs the same
// executable and is no helper itself (a browser's zygote may stand between them). The helpers,
// not the main process, often hold the caches (the GPU process its GPUCache, the network
// service the HTTP cache), so a helper's hold is its application's.
std::optional<int> mainOfHelper(int pidDir, uid_t me) {
    char exe[4096];
    const ssize_t n = ::readlinkat(pidDir, "exe", exe, sizeof exe - 1);
    if (n <= 0) return std::nullopt;
    const std::string_view path(exe, static_cast<std::size_t>(n));
    std::optional<int> parent = parentOf(readSmallFileAt(pidDir, "status"));
    for (int depth = 0; parent && *parent > 1 && depth < 8; ++depth) {
        UniqueFd dir(::open(("/proc/" + std::to_string(*parent)).c_str(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!dir) return std::nullopt;
        const auto status = readSmallFileAt(dir.get(), "status");
        char target[4096];
        const ssize_t m = ::readlinkat(dir.get(), "exe", target, sizeof target - 1);
        if (uidOf(status) != me || m <= 0 ||
            std::string_view(target, static_cast<std::size_t>(m)) != path)
            return std::nullopt;
        if (!isHelperProcess(readSmallFileAt(dir.get(), "cmdline"))) return parent;
        parent = parentOf(status);
    }
    return std::nullopt;
}

int pidfdOpen(int pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

int pidfdSendSignal(int pidfd, int sig) {
#ifdef SYS_pidfd_send_signal
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
#else
    (void)pidfd;
    (void)sig;
    errno = ENOSYS;
    return -1;
#endif
}

}  // namespace

ProcRunningApps::ProcRunningApps(ProcessRules rules, const std::string& pathRoot)
    : rules_(std::move(rules)) {
    for (auto& [bundleID, rule] : rules_) {
        // A path in the home (Steam installs itself there) is looked up in the current one.
        for (std::string& path : rule.paths) path = pathRoot + expandTilde(path);
    }
}

ProcRunningApps::~ProcRunningApps() {
    for (const Tracked& t : tracked_) ::close(t.pidfd);
}

// A pidfd turns readable when its process has exited; such entries can never be signalled again.
void ProcRunningApps::pruneExited() {
    std::erase_if(tracked_, [](const Tracked& t) {
        if (t.pidfd < 0) return startTime(t.pid) != t.startTime;
        pollfd p{t.pidfd, POLLIN, 0};
        if (::poll(&p, 1, 0) != 1) return false;
        if ((p.revents & POLLNVAL) != 0) return true;  // not ours to close any more
        ::close(t.pidfd);
        return true;
    });
}

std::vector<AppInstance> ProcRunningApps::instances(const std::string& bundleID) {
    const auto entry = rules_.find(bundleID);
    if (entry == rules_.end()) return {};
    const ProcessRule& rule = entry->second;
    if (rule.empty()) return {};
    const uid_t me = ::getuid();

    std::vector<AppInstance> result;
    std::lock_guard lock(mutex_);
    pruneExited();
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc) return {};
    while (const dirent* de = ::readdir(proc.get())) {
        const std::optional<int> named = numberNamed(de->d_name);
        if (!named || *named <= 0 || *named == ::getpid()) continue;
        const int pid = *named;
        // The executable first: one readlink rules out almost every process before any file is
        // read; the sandbox is looked at only for the user's own processes.
        const auto exe = executable(pid);
        if (!exe) continue;
        const bool byExecutable = matchesByExecutable(rule, *exe);
        if (!byExecutable && rule.flatpakIDs.empty()) continue;
        if (realUid(pid) != me) continue;
        if (!byExecutable) {
            const auto appID = flatpakAppID(pid);
            if (!appID || !contains(rule.flatpakIDs, *appID)) continue;
        }
        if (isHelperProcess(readProcFile(pid, "cmdline"))) continue;
        const auto stat = statFields(pid);
        // A zombie has already quit; it only waits for its parent to collect it.
        if (!stat || stat->state == 'Z' || stat->state == 'X') continue;
        if (const auto instance = track(pid, stat->startTime)) result.push_back(*instance);
    }
    return result;
}

std::optional<AppInstance> ProcRunningApps::track(int pid, std::uint64_t started) {
    const auto known = std::find_if(tracked_.begin(), tracked_.end(), [&](const Tracked& t) {
        return t.pid == pid && t.startTime == started;
    });
    if (known != tracked_.end()) return AppInstance{pid, known->pidfd};
    const int pidfd = pidfdOpen(pid);
    if (pidfd < 0) {
        // A kernel without pidfds (before 5.3): the process is still listed, and requestQuit
        // checks its start time right before signalling it by pid.
        if (errno != ENOSYS) return std::nullopt;
        tracked_.push_back({pid, started, -1});
        return AppInstance{pid, -1};
    }
    // The pid could have been reused between reading /proc and opening the pidfd: the pidfd
    // stands for the listed process only if the start time is still the same now.
    if (startTime(pid) != started) {
        ::close(pidfd);
        return std::nullopt;
    }
    tracked_.push_back({pid, started, pidfd});
    return AppInstance{pid, pidfd};
}

std::vector<std::vector<AppInstance>> ProcRunningApps::holders(
    const std::vector<std::vector<std::string>>& folderLists) {
    std::vector<std::vector<AppInstance>> result(folderLists.size());
    const uid_t me = ::getuid();
    std::lock_guard lock(mutex_);
    pruneExited();
    const Dir proc = openDirAt(AT_FDCWD, "/proc");
    if (!proc) return result;
    while (const dirent* de = ::readdir(proc.get())) {
        const std::optional<int> named = numberNamed(de->d_name);
        if (!named || *named <= 0 || *named == ::getpid()) continue;
        const int pid = *named;
        // Everything is read through this one folder, so all of it is this one process's.
        UniqueFd pidDir(
            ::openat(::dirfd(proc.get()), de->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat st {};
        // The folder shows the effective owner: a cheap first look before any file is read.
        if (!pidDir || ::fstat(pidDir.get(), &st) != 0 || st.st_uid != me) continue;
        if (uidOf(readSmallFileAt(pidDir.get(), "status")) != me) continue;
        const std::vector<std::string> held = heldPaths(pidDir.get());
        std::vector<std::size_t> matched;
        for (std::size_t i = 0; i < folderLists.size(); ++i) {
            if (holdsAny(held, folderLists[i])) matched.push_back(i);
        }
        if (matched.empty()) continue;
        const auto stat = statFieldsOf(readSmallFileAt(pidDir.get(), "stat"));
        if (!stat || stat->state == 'Z' || stat->state == 'X') continue;
        std::optional<AppInstance> instance;
        if (!isHelperProcess(readSmallFileAt(pidDir.get(), "cmdline"))) {
            instance = track(pid, stat->startTime);
        } else if (const auto main = mainOfHelper(pidDir.get(), me)) {
            if (const auto started = startTime(*main)) instance = track(*main, *started);
        }
        if (!instance) continue;
        for (const std::size_t i : matched) {
            if (std::none_of(result[i].begin(), result[i].end(),
                             [&](const AppInstance& a) { return a.pid == instance->pid; }))
                result[i].push_back(*instance);
        }
    }
    return result;
}

void ProcRunningApps::requestQuit(const AppInstance& instance) {
    std::lock_guard lock(mutex_);
    const auto known = std::find_if(tracked_.begin(), tracked_.end(), [&](const Tracked& t) {
        return t.pid == instance.pid && t.pidfd == instance.pidfd;
    });
    // Only a process this registry listed is signalled; its pidfd cannot reach a reused pid.
    if (known == tracked_.end()) return;
    if (known->pidfd >= 0) {
        pidfdSendSignal(known->pidfd, SIGTERM);
    } else if (startTime(known->pid) == known->startTime) {
        ::kill(known->pid, SIGTERM);
    }
}

}  // namespace sweepkin
