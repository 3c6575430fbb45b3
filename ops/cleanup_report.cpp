#include "ops/cleanup_report.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <random>

#include "engine/fs/sizes.h"
#include "engine/fs/unique_fd.h"

namespace sweepkin {

namespace {

// Closes `file` and reports whether the close succeeded: on some file systems a failed close is
// the first sign that the data never reached the disk.
bool closeChecked(UniqueFd& file) {
    const int fd = file.release();
    return fd < 0 || ::close(fd) == 0 || errno == EINTR;
}

std::string parentFolder(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string fileName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Creates `folder` and every missing folder above it (mode 0755 less the umask).
void makeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string prefix = folder.substr(0, slash);
        if (!prefix.empty()) ::mkdir(prefix.c_str(), 0755);
        if (slash == std::string::npos) break;
    }
}

std::string localTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[32] = {};
    if (localtime_r(&now, &local) == nullptr) return {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string reportText(const std::vector<std::string>& lines, std::int64_t cleared,
                       std::int64_t freeBefore, std::int64_t freeAfter) {
    std::string text = "# Sweepkin — Cleanup Report\n\n**" + localTimestamp() + "**\n\n";
    for (const std::string& line : lines) text += "- " + line + "\n";
    text += "\n**Total cleared:** " + formatBytes(cleared) + "\n\n";
    text += "**Free disk now:** " + formatBytes(freeAfter) + "  (was " + formatBytes(freeBefore) +
            ")\n";
    return text;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool syncFd(int fd) {
    int rc;
    do rc = ::fsync(fd);
    while (rc != 0 && errno == EINTR);
    return rc == 0;
}

std::string temporaryPrefix(const std::string& name) {
    return "." + name + ".";
}

// A fresh, exclusively created file beside the report, so that the final rename stays on one
// file system and never replaces anything but the report.
UniqueFd createTemporary(const std::string& folder, const std::string& name, std::string& path) {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        path = folder + "/" + temporaryPrefix(name) + std::to_string(::getpid()) + "-" +
               std::to_string(counter++) + "-" + std::to_string(random()) + ".tmp";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) return UniqueFd(fd);
        if (errno != EEXIST) break;
    }
    path.clear();
    return UniqueFd();
}

// A writer killed between creating its temporary file and the rename leaves the file behind.
// Its name carries the writer's pid; files of writers that no longer exist are removed, those of
// a writer still running (another copy of the program) are left to it.
void removeStaleTemporaries(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    const std::string prefix = temporaryPrefix(name);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view entryName(entry->d_name);
        if (!entryName.starts_with(prefix) || !entryName.ends_with(".tmp")) continue;
        const std::string_view rest = entryName.substr(prefix.size());
        pid_t pid = 0;
        std::size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
            pid = pid * 10 + (rest[digits] - '0');
            ++digits;
        }
        if (digits == 0 || digits >= rest.size() || rest[digits] != '-') continue;
        if (pid == ::getpid() || pid <= 0) continue;
        if (::kill(pid, 0) != 0 && errno == ESRCH) ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

}  // namespace

bool writeCleanupReport(const std::string& reportPath, const std::vector<std::string>& lines,
                        std::int64_t cleared, std::int64_t freeBefore, std::int64_t freeAfter) {
    const std::string folder = parentFolder(reportPath);
    const std::string name = fileName(reportPath);
    if (name.empty()) return false;

    // Failure here shows up as a failed create just below; an existing folder is the usual case.
    makeFolders(folder);
    removeStaleTemporaries(folder, name);

    const std::string text = reportText(lines, cleared, freeBefore, freeAfter);
    std::string temporary;
    UniqueFd file = createTemporary(folder, name, temporary);
    if (!file) return false;

    const bool complete = writeAll(file.get(), text) && syncFd(file.get()) && closeChecked(file) &&
                          ::rename(temporary.c_str(), reportPath.c_str()) == 0;
    if (!complete) {
        file.reset();
        ::unlink(temporary.c_str());
        return false;
    }

    // Makes the rename itself survive a crash. The new report is already in place, so a folder
    // that cannot be synced (some file systems refuse) does not turn this into a failure.
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) syncFd(dir.get());
    return true;
}

}  // namespace sweepkin
