#include "ops/cleanup_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSaveFile>
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
