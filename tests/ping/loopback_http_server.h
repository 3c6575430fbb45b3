#pragma once
// A minimal HTTP/1.1 server on 127.0.0.1 for the ping tests: it records each request and answers
// with a chosen status, holds the answer until released, or never answers.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

namespace sweepkin::testing {

struct ReceivedRequest {
    QString method;
    QString target;   // path and query as sent
    QByteArray head;  // request line and headers
};

class LoopbackHttpServer : public QObject {
    Q_OBJECT
  public:
    enum class Mode {
        Answer,        // status line and an empty body at once
        Hold,          // answer only when release() is called
        Silent,        // read the request, never answer
        HeadersStall,  // send the status line and headers, never the promised body
    };

    explicit LoopbackHttpServer(QObject* parent = nullptr);
    bool listen(quint16 port = 0);  // 0 picks a free port
    quint16 port() const { return server_.serverPort(); }
    QString url(const QString& pathAndQuery) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(pathAndQuery);
    }
    void setMode(Mode mode, int status = 200) {
        mode_ = mode;
        status_ = status;
    }
    void release();  // answers every held request
    const QList<ReceivedRequest>& requests() const { return requests_; }

  signals:
    void requestReceived(const sweepkin::testing::ReceivedRequest& request);

  private:
    void onReadable(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const char* headers = "Content-Length: 0\r\nConnection: close");

    QTcpServer server_;
    Mode mode_ = Mode::Answer;
    int status_ = 200;
    QList<ReceivedRequest> requests_;
    QList<QPointer<QTcpSocket>> held_;
};

}  // namespace sweepkin::testing
