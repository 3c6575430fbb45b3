#include "shell/single_instance.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include "engine/fs/unique_fd.h"

namespace sweepkin {

namespace {

const QByteArray kShowRequest = QByteArrayLiteral("show\n");

// A folder of this user's that others may enter (made under another umask, or copied) is set to
// 0700 through a descriptor that cannot have followed a link put there since it was looked at,
// and looked at again through that descriptor.
bool makePrivate(const QByteArray& path) {
    const UniqueFd folder(
        ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!folder || ::fstat(folder.get(), &st) != 0 || st.st_uid != ::geteuid()) return false;
    if (::fchmod(folder.get(), 0700) != 0 || ::fstat(folder.get(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

// Creates `dir` (0700) when it is missing. Anyone may create a name in the temporary folder first,
// and whoever controls the folder could hold the lock and turn every launch away, so it is used
// only when it is a real folder of this user that nobody else may enter.
QString privateFolderProblem(const QString& dir) {
    const QFileInfo info(dir);
    QDir().mkpath(info.absolutePath());
    const QByteArray path = QFile::encodeName(dir);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        return QStringLiteral("%1 cannot be created").arg(dir);
    }
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return QStringLiteral("%1 is not a real folder").arg(dir);
    }
    if (st.st_uid != ::geteuid()) return QStringLiteral("%1 belongs to another user").arg(dir);
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0 && !makePrivate(path)) {
        return QStringLiteral("%1 is open to other users").arg(dir);
    }
    return {};
}

}  // namespace

SingleInstance::SingleInstance(const QString& runtimeDir, QObject* parent)
    : QObject(parent), dir_(runtimeDir) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultRuntimeDir() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime)) {
        return runtime + QStringLiteral("/sweepkin");
    }
    return QDir::tempPath() + QStringLiteral("/sweepkin-%1").arg(::getuid());
}

QString SingleInstance::lockPath() const {
    return dir_ + QStringLiteral("/instance.lock");
}
QString SingleInstance::socketPath() const {
    return dir_ + QStringLiteral("/instance.sock");
}

bool SingleInstance::claim() {
    problem_ = privateFolderProblem(dir_);
    if (!problem_.isEmpty()) {
        // Run rather than refuse: a second icon is a smaller harm than none.
        std::fprintf(stderr, "Sweepkin: %s; starting without checking for a running copy.\n",
                     problem_.toLocal8Bit().constData());
        return true;
    }
    lock_ = std::make_unique<QLockFile>(lockPath());
    // Never stale by age: only a lock whose owner process is gone is taken over.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        if (lock_->error() == QLockFile::LockFailedError) return false;
        return true;  // the lock cannot be written at all; a duplicate icon beats no icon
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath());  // left behind by a crashed instance
    if (!server_->listen(socketPath())) return true;
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains(kShowRequest)) emit showRequested();
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    return true;
}

bool SingleInstance::signalRunningInstance(int timeoutMs) const {
    // The other instance may still be starting up; keep trying until the deadline.
    const QDeadlineTimer deadline(timeoutMs);
    do {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(qMax<qint64>(1, deadline.remainingTime()))) {
            socket.write(kShowRequest);
            const bool written =
                socket.waitForBytesWritten(qMax<qint64>(1, deadline.remainingTime()));
            socket.disconnectFromServer();
            if (written) return true;
        }
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return false;
}

}  // namespace sweepkin
