// The usage ping against a real loopback HTTP server, with a temporary settings file.

#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>
#include <memory>

#include "loopback_http_server.h"
#include "ops/settings.h"
#include "ping/usage_ping.h"

using namespace sweepkin;
using sweepkin::testing::LoopbackHttpServer;
using Mode = LoopbackHttpServer::Mode;

namespace {

// Counts requests handed to the network layer, so "sent nothing" is observable at once.
class CountingNetwork : public QNetworkAccessManager {
  public:
    int requests = 0;

  protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& r, QIODevice* body) override {
        ++requests;
        return QNetworkAccessManager::createRequest(op, r, body);
    }
};

const QRegularExpression kUuid(
    QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));

QList<std::pair<QString, QString>> queryItems(const QString& target) {
    const qsizetype mark = target.indexOf(QLatin1Char('?'));
    return mark < 0 ? QList<std::pair<QString, QString>>{}
                    : QUrlQuery(target.mid(mark + 1)).queryItems(QUrl::FullyDecoded);
}

}  // namespace

class UsagePingTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<SettingsStore> settings_;
    std::unique_ptr<LoopbackHttpServer> server_;
    std::unique_ptr<CountingNetwork> network_;
    std::unique_ptr<UsagePing> ping_;
    QDateTime now_;

    UsagePing& makePing(const QString& endpoint, int timeoutMs = 5000) {
        ping_ = std::make_unique<UsagePing>(
            *settings_,
            UsagePingOptions{endpoint, [this] { return now_; }, network_.get(), timeoutMs});
        return *ping_;
    }
    UsagePing& makePing() { return makePing(server_->url(QStringLiteral("/p"))); }

    // Sends one ping and waits for its outcome; returns whether it was recorded.
    bool pingAndWait(UsagePing& ping) {
        QSignalSpy finished(&ping, &UsagePing::pingFinished);
        const int before = network_->requests;
        ping.sendUsagePing();
        if (network_->requests != before + 1 || !finished.wait(10000)) return false;
        return finished.constFirst().constFirst().toBool();
    }

    void expectNothingSent() {
        QCOMPARE(network_->requests, 0);
        QVERIFY(!settings_->stringValue(keys::installID).has_value());
    }
    void setCounts(int opens, int cleans) {
        settings_->setInt(keys::ctPanelOpens, opens);
        settings_->setInt(keys::ctCleans, cleans);
    }
    void expectCounts(int opens, int cleans) {
        QCOMPARE(settings_->intValue(keys::ctPanelOpens), opens);
        QCOMPARE(settings_->intValue(keys::ctCleans), cleans);
    }
    std::optional<QDateTime> heartbeat() const { return settings_->dateValue(keys::lastHeartbeat); }

  private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        settings_ = std::make_unique<SettingsStore>(dir_->filePath(QStringLiteral("s.conf")));
        server_ = std::make_unique<LoopbackHttpServer>();
        QVERIFY(server_->listen());
        network_ = std::make_unique<CountingNetwork>();
        now_ = QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53), Qt::UTC);
    }

    void cleanup() {
        ping_.reset();
        network_.reset();
        server_.reset();
    }

    void sendsSixQueryItemsInOrderWithAFreshInstallID() {
        setCounts(3, 1);
        QVERIFY(pingAndWait(makePing(server_->url(QStringLiteral("/usage/ping")))));

        QCOMPARE(server_->requests().size(), 1);
        const auto& request = server_->requests().constFirst();
        QCOMPARE(request.method, QStringLiteral("GET"));
        QVERIFY(!request.head.toLower().contains("content-length"));
        QVERIFY(request.target.startsWith(QStringLiteral("/usage/ping?")));
        const auto items = queryItems(request.target);
        const std::optional<QString> id = settings_->stringValue(keys::installID);
        QVERIFY(id && kUuid.match(*id).hasMatch());
        const QString os = sweepkin::operatingSystemMajorMinor();
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+$")).match(os).hasMatch());
        const QList<std::pair<QString, QString>> expected{
            {"id", *id}, {"v", "4.0"}, {"os", os}, {"opens", "3"}, {"fixes", "1"}, {"app", "swk"}};
        QCOMPARE(items, expected);

        QCOMPARE(heartbeat(), std::optional<QDateTime>(now_));
        expectCounts(0, 0);
    }

    // Only a complete answer with a status of 200 to 399 counts; anything else changes nothing.
    void answerDecidesWhetherThePingCounts_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("recorded");
        for (const int status : {199, 200, 204, 399, 400, 500})
            QTest::addRow("%d", status)
                << int(Mode::Answer) << status << (status >= 200 && status < 400);
        QTest::newRow("no answer") << int(Mode::Silent) << 200 << false;
        QTest::newRow("body cut off") << int(Mode::HeadersStall) << 200 << false;
    }

    void answerDecidesWhetherThePingCounts() {
        QFETCH(int, mode);
        QFETCH(int, status);
        QFETCH(bool, recorded);
        setCounts(4, 2);
        server_->setMode(Mode(mode), status);
        const int timeoutMs = Mode(mode) == Mode::Answer ? 5000 : 300;
        QCOMPARE(pingAndWait(makePing(server_->url(QStringLiteral("/p")), timeoutMs)), recorded);
        QCOMPARE(server_->requests().size(), 1);
        QCOMPARE(heartbeat().has_value(), recorded);
        expectCounts(recorded ? 0 : 4, recorded ? 0 : 2);
    }

    void countsMadeDuringTheRequestSurviveTheAnswer() {
        setCounts(5, 2);
        server_->setMode(Mode::Hold);
        connect(server_.get(), &LoopbackHttpServer::requestReceived, this, [this] {
            settings_->increment(keys::ctPanelOpens);
            server_->release();
        });
        QVERIFY(pingAndWait(makePing()));
        const auto items = queryItems(server_->requests().constFirst().target);
        QCOMPARE(items[3].second, QStringLiteral("5"));
        QCOMPARE(items[4].second, QStringLiteral("2"));
        expectCounts(1, 0);
    }

    void spacingFromTheLastHeartbeat_data() {
        QTest::addColumn<qint64>("secondsAgo");
        QTest::addColumn<bool>("sends");
        QTest::newRow("19 hours ago") << qint64(19 * 3600) << false;
        QTest::newRow("1 second short of 20 hours") << qint64(72'000 - 1) << false;
        QTest::newRow("exactly 20 hours ago") << qint64(72'000) << true;
        QTest::newRow("3 days ago") << qint64(3 * 86'400) << true;
    }

    void spacingFromTheLastHeartbeat() {
        QFETCH(qint64, secondsAgo);
        QFETCH(bool, sends);
        const QDateTime last = now_.addSecs(-secondsAgo);
        settings_->setDate(keys::lastHeartbeat, last);
        if (sends) {
            QVERIFY(pingAndWait(makePing()));
            QCOMPARE(heartbeat(), std::optional<QDateTime>(now_));
        } else {
            makePing().sendUsagePing();
            expectNothingSent();
            QCOMPARE(heartbeat(), std::optional<QDateTime>(last));
        }
    }

    void heartbeatInTheFutureHoldsThePingUntil20HoursPastIt() {
        const QDateTime future = now_.addDays(2);
        settings_->setDate(keys::lastHeartbeat, future);
        UsagePing& ping = makePing();
        for (const qint64 offset : {0, 3600, 72'000 - 1}) {
            now_ = future.addSecs(offset);
            ping.sendUsagePing();
            QCOMPARE(network_->requests, 0);
        }
        now_ = future.addSecs(72'000);
        QVERIFY(pingAndWait(ping));
        QCOMPARE(heartbeat(), std::optional<QDateTime>(now_));
    }

    void endpointQueryIsReplaced() {
        QVERIFY(pingAndWait(makePing(server_->url("/v2/hb?id=stale&app=other&extra=1#section"))));
        const QString target = server_->requests().constFirst().target;
        QVERIFY2(target.startsWith(QStringLiteral("/v2/hb?id=")), qPrintable(target));
        QVERIFY(!target.contains(QStringLiteral("stale")) && !target.contains("extra"));
        QCOMPARE(queryItems(target).size(), 6);
        QCOMPARE(queryItems(target).constLast().second, QStringLiteral("swk"));
    }

    void installIDIsKeptOrReplacedWhenEmpty_data() {
        QTest::addColumn<QString>("stored");
        QTest::newRow("empty string") << QString();
        QTest::newRow("existing id") << QStringLiteral("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
    }

    void installIDIsKeptOrReplacedWhenEmpty() {
        QFETCH(QString, stored);
        settings_->setString(keys::installID, stored);
        QVERIFY(pingAndWait(makePing()));
        const QString sent = queryItems(server_->requests().constFirst().target)[0].second;
        QCOMPARE(settings_->stringValue(keys::installID), std::optional<QString>(sent));
        if (stored.isEmpty())
            QVERIFY2(kUuid.match(sent).hasMatch(), qPrintable(sent));
        else
            QCOMPARE(sent, stored);
    }

    // Turned off by an unusable endpoint or by the user: nothing is sent, created or counted.
    void turnedOffSendsAndCreatesNothing_data() {
        QTest::addColumn<QString>("endpoint");
        QTest::addColumn<bool>("disabled");
        for (const char* e : {"", "usage service", "/usage/ping", "http://", "file:///etc/passwd"})
            QTest::newRow(*e ? e : "empty") << (*e ? QString::fromLatin1(e) : QString()) << false;
        QTest::newRow("analytics disabled") << QStringLiteral("http://127.0.0.1:1/p") << true;
    }

    void turnedOffSendsAndCreatesNothing() {
        QFETCH(QString, endpoint);
        QFETCH(bool, disabled);
        settings_->setBool(keys::disableAnalytics, disabled);
        setCounts(7, 1);
        makePing(endpoint).sendUsagePing();
        expectNothingSent();
        QVERIFY(!heartbeat());
        expectCounts(7, 1);
    }
};

QTEST_GUILESS_MAIN(UsagePingTest)
#include "usage_ping_test.moc"
