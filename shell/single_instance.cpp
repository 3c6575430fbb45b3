#include "shell/single_instance.h"

#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

namespace sweepkin {

namespace {
const QByteArray kShowRequest = QByteArrayLiteral("show\n");
}

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
    if (!QDir().mkpath(dir_)) return true;  // no place for a lock: run rather than refuse
    QFile::setPermissions(dir_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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
