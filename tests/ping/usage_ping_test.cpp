// The usage ping against a real loopback HTTP server, with a scratch settings file.

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "ops/settings.h"
#include "ping/usage_ping.h"
#include "tests/support/tree.h"

using namespace sweepkin;

namespace {

// Records each request head and answers with `status`; with 0 never, with -1 with the headers of
// a body it never sends. `onRequest` runs before the answer.
struct Server : QTcpServer {
    int status = 200;
    QList<QByteArray> heads;
    std::function<void()> onRequest;

    Server() {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* s = nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, this, [this, s] {
                s->setProperty("head", s->property("head").toByteArray() + s->readAll());
                if (!s->property("head").toByteArray().contains("\r\n\r\n")) return;
                heads << s->property("head").toByteArray();
                if (onRequest) onRequest();
                if (status == 0) return;
                s->write("HTTP/1.1 " + QByteArray::number(status > 0 ? status : 200) + " X\r\n" +
                         (status > 0 ? "Content-Length: 0\r\n\r\n" : "Content-Length: 9\r\n\r\n"));
                if (status > 0) s->disconnectFromHost();
            });
        });
    }
    QString url(const char* path) const {
        return QString("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
    }
    QStringList items(int i = 0) const {  // "name=value", in order
        const QString target = QString::fromLatin1(heads.value(i).split(' ').value(1));
        return target.section('?', 1).split('&');
    }
};

// Settings with 4 openings and 2 cleans counted, a server, and pings at a fixed time.
struct Fixture {
    fixtures::ScratchDir dir;
    SettingsStore settings{QString::fromStdString(dir / "s.conf")};
    Server server;
    std::unique_ptr<QNetworkAccessManager> network;
    std::unique_ptr<UsagePing> ping;
    QDateTime now = QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53), Qt::UTC);

    Fixture() { settings.setInt(keys::ctPanelOpens, 4), settings.setInt(keys::ctCleans, 2); }
    // Starts a ping; true when a request went out and its answer counted.
    bool send(std::optional<QString> endpoint = {}, int timeoutMs = 5000) {
        ping.reset();
        network = std::make_unique<QNetworkAccessManager>();  // no reply of an earlier ping
        ping = std::make_unique<UsagePing>(
            settings, QStringLiteral("4.7"),
            UsagePingOptions{endpoint.value_or(server.url("/p")), [this] { return now; },
                                       network.get(), timeoutMs});
        QSignalSpy finished(ping.get(), &UsagePing::pingFinished);
        ping->sendUsagePing();
        return !network->findChildren<QNetworkReply*>().isEmpty() && finished.wait(10'000) &&
               finished.constFirst().constFirst().toBool();
    }
    QString state() const {  // opens|cleans|heartbeat
        const auto beat = settings.dateValue(keys::lastHeartbeat);
        return QString::asprintf("%lld|%lld|", settings.intValue(keys::ctPanelOpens),
                                 settings.intValue(keys::ctCleans)) +
               (beat ? beat->toString(Qt::ISODate) : "-");
    }
};

}  // namespace

class UsagePingTest : public QObject {
    Q_OBJECT

  private slots:
    // A fresh install ID is made and kept; the endpoint's own query and fragment give way. The
    // next ping waits 20 hours after the last heartbeat, also after one in the future.
    void sendsSixQueryItemsInOrder() {
        Fixture f;
        // Only what was reported is taken off: an opening counted meanwhile stays.
        f.server.onRequest = [&f] { f.settings.increment(keys::ctPanelOpens); };
        QVERIFY(f.send(f.server.url("/usage/ping?id=stale&extra=1#section")));
        QVERIFY(f.server.heads.value(0).startsWith("GET /usage/ping?id="));
        const QString id = f.settings.stringValue(keys::installID).value_or("");
        QCOMPARE(QUuid(id).toString(QUuid::WithoutBraces).toUpper(), id);  // upper case, no braces
        const QString os = operatingSystemMajorMinor();
        QVERIFY(QRegularExpression("^\\d+\\.\\d+$").match(os).hasMatch());
        QCOMPARE(f.server.items(),
                 QStringList({"id=" + id, "v=4.7", "os=" + os, "opens=4", "fixes=2", "app=swk"}));
        QCOMPARE(f.state(), "1|0|" + f.now.toString(Qt::ISODate));
        f.now = f.now.addSecs(72'000 - 1);
        QVERIFY(!f.send());
        f.now = f.now.addSecs(1);
        QVERIFY(f.send());
        QCOMPARE(f.server.items(1).value(0), "id=" + id);
        f.now = f.now.addSecs(-3600);  // the clock set back
        QVERIFY(!f.send());
    }

    // Only a complete answer with a status of 200 to 399 counts; anything else, a missing or
    // a cut-off answer (each ending in the timeout) included, changes nothing.
    void answerDecidesWhetherThePingCounts() {
        for (const int status : {199, 200, 399, 400, 0, -1}) {
            Fixture f;
            f.server.status = status;
            const bool counts = status >= 200 && status <= 399;
            QCOMPARE(f.send({}, status > 0 ? 5000 : 300), counts);
            QCOMPARE(
                QString("%1: %2 %3").arg(status).arg(f.server.heads.size()).arg(f.state()),
                QString("%1: 1 %2").arg(status).arg(counts ? "0|0|2026-03-14T09:26:53Z" : "4|2|-"));
        }
    }

    // Turned off by an unusable endpoint or by the user: nothing is sent, created or counted.
    void turnedOffSendsAndCreatesNothing() {
        for (const char* endpoint : {"", "/usage/ping", "file:///etc/passwd", "off"}) {
            Fixture f;
            f.settings.setBool(keys::disableAnalytics, QString(endpoint) == "off");
            QVERIFY(!f.send(QString(endpoint) == "off" ? f.server.url("/p") : endpoint));
            QVERIFY(!f.settings.stringValue(keys::installID));
            QCOMPARE(f.state(), QString("4|2|-"));
        }
    }
};

QTEST_GUILESS_MAIN(UsagePingTest)
#include "usage_ping_test.moc"
