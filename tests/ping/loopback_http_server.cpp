#include "loopback_http_server.h"

namespace sweepkin::testing {

LoopbackHttpServer::LoopbackHttpServer(QObject* parent) : QObject(parent) {
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
        }
    });
}

bool LoopbackHttpServer::listen(quint16 port) {
    return server_.listen(QHostAddress::LocalHost, port);
}

QString LoopbackHttpServer::url(const QString& pathAndQuery) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(pathAndQuery);
}

void LoopbackHttpServer::setMode(Mode mode, int status) {
    mode_ = mode;
    status_ = status;
}

void LoopbackHttpServer::onReadable(QTcpSocket* socket) {
    // The ping carries no body, so a request ends with its blank line.
    QByteArray buffered = socket->property("buffered").toByteArray() + socket->readAll();
    socket->setProperty("buffered", buffered);
    const qsizetype end = buffered.indexOf("\r\n\r\n");
    if (end < 0) return;
    socket->setProperty("buffered", QByteArray());

    ReceivedRequest request;
    request.head = buffered.left(end);
    const QList<QByteArray> requestLine =
        request.head.left(request.head.indexOf("\r\n")).split(' ');
    if (requestLine.size() >= 2) {
        request.method = QString::fromLatin1(requestLine[0]);
        request.target = QString::fromLatin1(requestLine[1]);
    }
    requests_.append(request);

    switch (mode_) {
        case Mode::Answer:
            answer(socket);
            break;
        case Mode::Hold:
            held_.append(socket);
            break;
        case Mode::Silent:
            break;
        case Mode::HeadersStall:
            socket->write(QStringLiteral("HTTP/1.1 %1 Status\r\nContent-Length: 100\r\n\r\n")
                              .arg(status_)
                              .toLatin1());
            break;
    }
    emit requestReceived(request);
}

void LoopbackHttpServer::answer(QTcpSocket* socket) {
    socket->write(
        QStringLiteral("HTTP/1.1 %1 Status\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            .arg(status_)
            .toLatin1());
    socket->disconnectFromHost();
}

void LoopbackHttpServer::release() {
    const auto held = std::exchange(held_, {});
    for (const QPointer<QTcpSocket>& socket : held) {
        if (socket) answer(socket);
    }
}

}  // namespace sweepkin::testing
