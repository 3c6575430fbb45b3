#include "ops/activity_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "engine/fs/unique_fd.h"

namespace sweepkin {

namespace {

int openForAppend(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens the log for appending, creating it when it does not exist yet. A log that exists but
// refuses to open is left alone (-1): replacing it would lose everything it holds.
int openLog(const std::string& path) {
    const int fd = openForAppend(path);
    if (fd >= 0 || errno != ENOENT) return fd;
    int created;
    do {
        created = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    } while (created < 0 && errno == EINTR);
    if (created >= 0) return created;
    // Another writer created it in between.
    if (errno == EEXIST) return openForAppend(path);
    return -1;
}

}  // namespace

void appendLogLine(const std::string& logPath, std::uint64_t maxBytes, const QString& message) {
    const QString stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const QByteArray line =
        (QLatin1Char('[') + stamp + QLatin1String("] ") + message + QLatin1Char('\n')).toUtf8();

    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(logPath).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);

    struct stat st {};
    if (::stat(logPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        // rename() replaces an earlier ".old" generation in one step.
        ::rename(logPath.c_str(), (logPath + ".old").c_str());
    }

    const UniqueFd fd(openLog(logPath));
    if (!fd) return;
    struct stat before {};
    if (::fstat(fd.get(), &before) != 0) return;
    // One write per line: with O_APPEND the line lands whole at the end, even beside another
    // writer.
    ssize_t written;
    do {
        written = ::write(fd.get(), line.constData(), static_cast<size_t>(line.size()));
    } while (written < 0 && errno == EINTR);
    // A full disk or a file-size limit can cut the line short; a torn line would run into the
    // next one, so the file goes back to its size before the write (best effort).
    if (written > 0 && written < static_cast<ssize_t>(line.size())) {
        [[maybe_unused]] const int truncated = ::ftruncate(fd.get(), before.st_size);
    }
}

ActivityLog::ActivityLog(std::string logPath, std::uint64_t maxBytes)
    : logPath_(std::move(logPath)), maxBytes_(maxBytes) {
    queue_.setObjectName(QStringLiteral("com.sweepkin.log"));
    queue_.setMaxThreadCount(1);  // serial: lines are written in submission order
    queue_.setThreadPriority(QThread::LowPriority);
}

ActivityLog::~ActivityLog() {
    queue_.waitForDone();
}

void ActivityLog::logActivity(const QString& message) {
    queue_.start(
        [path = logPath_, max = maxBytes_, message] { appendLogLine(path, max, message); });
}

void ActivityLog::waitForIdle() {
    queue_.waitForDone();
}

}  // namespace sweepkin
