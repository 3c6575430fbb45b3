#pragma once
// A minimal HTTP/1.1 server on 127.0.0.1 for the ping tests: it records each request line and
// answers with a chosen status, holds the answer until released, or never answers.

#include <QHostAddress>
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
        HeadersStall,  // send the status line and headers, then never the promised body
    };

    explicit LoopbackHttpServer(QObject* parent = nullptr);

    // Port 0 picks a free port.
    bool listen(quint16 port = 0);
    quint16 port() const { return server_.serverPort(); }
    // "http://127.0.0.1:<port>" followed by `pathAndQuery`.
    QString url(const QString& pathAndQuery) const;

    void setMode(Mode mode, int status = 200);
    // Answers every held request with the configured status.
    void release();

    const QList<ReceivedRequest>& requests() const { return requests_; }

  signals:
    void requestReceived(const sweepkin::testing::ReceivedRequest& request);

  private:
    void onReadable(QTcpSocket* socket);
    void answer(QTcpSocket* socket);

    QTcpServer server_;
    Mode mode_ = Mode::Answer;
    int status_ = 200;
    QList<ReceivedRequest> requests_;
    QList<QPointer<QTcpSocket>> held_;
};

}  // namespace sweepkin::testing
