#include "loopback_http_server.h"

#include <QHostAddress>

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

void LoopbackHttpServer::onReadable(QTcpSocket* socket) {
    // The ping carries no body, so a request ends with its blank line.
    const QByteArray buffered = socket->property("buffered").toByteArray() + socket->readAll();
    const qsizetype end = buffered.indexOf("\r\n\r\n");
    socket->setProperty("buffered", end < 0 ? buffered : QByteArray());
    if (end < 0) return;

    ReceivedRequest request{{}, {}, buffered.left(end)};
    const QList<QByteArray> line = request.head.left(request.head.indexOf("\r\n")).split(' ');
    if (line.size() >= 2) {
        request.method = QString::fromLatin1(line[0]);
        request.target = QString::fromLatin1(line[1]);
    }
    requests_.append(request);
    if (mode_ == Mode::Answer) answer(socket);
    if (mode_ == Mode::Hold) held_.append(socket);
    if (mode_ == Mode::HeadersStall) answer(socket, "Content-Length: 100");
    emit requestReceived(request);
}

void LoopbackHttpServer::answer(QTcpSocket* socket, const char* headers) {
    socket->write(QStringLiteral("HTTP/1.1 %1 Status\r\n%2\r\n\r\n")
                      .arg(status_)
                      .arg(QLatin1String(headers))
                      .toLatin1());
    if (mode_ != Mode::HeadersStall) socket->disconnectFromHost();
}

void LoopbackHttpServer::release() {
    for (const QPointer<QTcpSocket>& socket : std::exchange(held_, {}))
        if (socket) answer(socket);
}

}  // namespace sweepkin::testing
