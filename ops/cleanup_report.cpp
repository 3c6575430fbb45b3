#include "ops/cleanup_report.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <filesystem>

#include "engine/fs/sizes.h"
#include "engine/fs/unique_fd.h"

namespace sweepkin {

namespace {

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

bool syncFd(int fd) {
    int rc;
    do rc = ::fsync(fd);
    while (rc != 0 && errno == EINTR);
    return rc == 0;
}

// QSaveFile writes the new report beside the old one and renames it over it. Its temporary file is
// "<report>.XXXXXX", six random letters in place of the X's: named only for the moment before the
// rename where the file system has unnamed files, named all along elsewhere. A writer killed
// before its rename leaves it behind; one a minute old is no running writer's.
constexpr std::time_t kStaleAfterSeconds = 60;

bool isTemporaryOf(std::string_view entry, std::string_view name) {
    return entry.size() == name.size() + 7 && entry.starts_with(name) && entry[name.size()] == '.' &&
           std::all_of(entry.end() - 6, entry.end(),
                       [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; });
}

void removeStaleTemporaries(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    const std::time_t staleBefore = std::time(nullptr) - kStaleAfterSeconds;
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st {};
        if (isTemporaryOf(entry->d_name, name) &&
            ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_mtime < staleBefore) {
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
    }
    ::closedir(dir);
}

}  // namespace

bool writeCleanupReport(const std::string& reportPath, const std::vector<std::string>& lines,
                        std::int64_t cleared, std::int64_t freeBefore, std::int64_t freeAfter) {
    const std::filesystem::path path(reportPath);
    const std::string name = path.filename();
    const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
    if (name.empty()) return false;

    // Failure here shows up as a failed open just below; an existing folder is the usual case.
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    removeStaleTemporaries(folder, name);

    // A new report replaces whatever stands at its name, as a rename does: QSaveFile would write
    // through a link there (into the file it names) and give up on a report made read-only.
    struct stat st {};
    if (::lstat(reportPath.c_str(), &st) == 0 &&
        (S_ISLNK(st.st_mode) ||
         (S_ISREG(st.st_mode) && ::faccessat(AT_FDCWD, reportPath.c_str(), W_OK, AT_EACCESS) != 0))) {
        ::unlink(reportPath.c_str());
    }

    const std::string text = reportText(lines, cleared, freeBefore, freeAfter);
    QSaveFile file(QFile::decodeName(reportPath.c_str()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
    // QSaveFile takes a short write (a full disk, a size limit) for a shorter file and ignores a
    // failed fsync: either keeps the earlier report here.
    const auto size = static_cast<qint64>(text.size());
    if (file.write(text.data(), size) != size || !syncFd(file.handle())) file.cancelWriting();
    if (!file.commit()) return false;

    // Makes the rename itself survive a crash. The new report is already in place, so a folder
    // that cannot be synced (some file systems refuse) does not turn this into a failure.
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) syncFd(dir.get());
    return true;
}

}  // namespace sweepkin
