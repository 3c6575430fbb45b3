// The usage ping against a real loopback HTTP server, with a temporary settings file.

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>
#include <memory>
#include <vector>

#include "loopback_http_server.h"
#include "ops/settings.h"
#include "ping/usage_ping.h"

using sweepkin::SettingsStore;
using sweepkin::UsagePing;
using sweepkin::UsagePingOptions;
using sweepkin::testing::LoopbackHttpServer;
using sweepkin::testing::ReceivedRequest;
namespace keys = sweepkin::keys;

namespace {

// Counts the requests handed to the network layer, so a run that sends nothing is observable
// without waiting for something that must not happen.
class CountingNetwork : public QNetworkAccessManager {
  public:
    int requests = 0;

  protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request,
                                 QIODevice* body) override {
        ++requests;
        return QNetworkAccessManager::createRequest(op, request, body);
    }
};

const QRegularExpression kCanonicalUuid(
    QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));

QList<std::pair<QString, QString>> queryItems(const QString& target) {
    const qsizetype mark = target.indexOf(QLatin1Char('?'));
    if (mark < 0) return {};
    return QUrlQuery(target.mid(mark + 1)).queryItems(QUrl::FullyDecoded);
}

}  // namespace

class UsagePingTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void sendsSixQueryItemsInOrderWithAFreshInstallID();
    void statusDecidesWhetherThePingCounts_data();
    void statusDecidesWhetherThePingCounts();
    void unansweredRequestTimesOutWithoutRecording();
    void answerCutOffAfterTheStatusLineDoesNotCount();
    void countsMadeDuringTheRequestSurviveTheAnswer();
    void spacingFromTheLastHeartbeat_data();
    void spacingFromTheLastHeartbeat();
    void heartbeatInTheFutureHoldsThePingUntil20HoursPastIt();
    void endpointQueryIsReplaced();
    void disabledAnalyticsSendsAndCreatesNothing();
    void installIDIsKeptOrReplacedWhenEmpty_data();
    void installIDIsKeptOrReplacedWhenEmpty();
    void unusableEndpointsTurnThePingOff_data();
    void unusableEndpointsTurnThePingOff();

  private:
    UsagePing& makePing(const QString& endpoint, int timeoutMs = 5000);
    // Sends one ping and waits for its outcome; returns whether it was recorded.
    bool pingAndWait(UsagePing& ping);

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<SettingsStore> settings_;
    std::unique_ptr<LoopbackHttpServer> server_;
    std::unique_ptr<CountingNetwork> network_;
    std::vector<std::unique_ptr<UsagePing>> pings_;
    QDateTime now_;
};

void UsagePingTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    settings_ = std::make_unique<SettingsStore>(dir_->filePath(QStringLiteral("Sweepkin.conf")));
    server_ = std::make_unique<LoopbackHttpServer>();
    QVERIFY(server_->listen());
    network_ = std::make_unique<CountingNetwork>();
    now_ = QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53), Qt::UTC);
}

void UsagePingTest::cleanup() {
    pings_.clear();
    network_.reset();
    server_.reset();
    settings_.reset();
    dir_.reset();
}

UsagePing& UsagePingTest::makePing(const QString& endpoint, int timeoutMs) {
    UsagePingOptions options;
    options.endpoint = endpoint;
    options.clock = [this] { return now_; };
    options.network = network_.get();
    options.transferTimeoutMs = timeoutMs;
    pings_.push_back(std::make_unique<UsagePing>(*settings_, options));
    return *pings_.back();
}

bool UsagePingTest::pingAndWait(UsagePing& ping) {
    QSignalSpy finished(&ping, &UsagePing::pingFinished);
    const int before = network_->requests;
    ping.sendUsagePing();
    if (network_->requests != before + 1) {
        qWarning("no request was started");
        return false;
    }
    if (!finished.wait(10000)) {
        qWarning("the ping never finished");
        return false;
    }
    return finished.constFirst().constFirst().toBool();
}

void UsagePingTest::sendsSixQueryItemsInOrderWithAFreshInstallID() {
    settings_->setInt(keys::ctPanelOpens, 3);
    settings_->setInt(keys::ctCleans, 1);
    UsagePing& ping = makePing(server_->url(QStringLiteral("/usage/ping")));

    QVERIFY(pingAndWait(ping));

    QCOMPARE(server_->requests().size(), 1);
    const ReceivedRequest& request = server_->requests().constFirst();
    QCOMPARE(request.method, QStringLiteral("GET"));
    QVERIFY(!request.head.toLower().contains("content-length"));
    QVERIFY(request.target.startsWith(QStringLiteral("/usage/ping?")));

    const auto items = queryItems(request.target);
    QStringList names;
    for (const auto& item : items) names << item.first;
    QCOMPARE(names, (QStringList{"id", "v", "os", "opens", "fixes", "app"}));

    const std::optional<QString> stored = settings_->stringValue(keys::installID);
    QVERIFY(stored.has_value());
    QVERIFY2(kCanonicalUuid.match(*stored).hasMatch(), qPrintable(*stored));
    QCOMPARE(items[0].second, *stored);
    QCOMPARE(items[1].second, QStringLiteral("4.0"));
    QCOMPARE(items[2].second, sweepkin::operatingSystemMajorMinor());
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+$")).match(items[2].second).hasMatch());
    QCOMPARE(items[3].second, QStringLiteral("3"));
    QCOMPARE(items[4].second, QStringLiteral("1"));
    QCOMPARE(items[5].second, QStringLiteral("swk"));

    QCOMPARE(settings_->dateValue(keys::lastHeartbeat), std::optional<QDateTime>(now_));
    QCOMPARE(settings_->intValue(keys::ctPanelOpens), 0);
    QCOMPARE(settings_->intValue(keys::ctCleans), 0);
}

void UsagePingTest::statusDecidesWhetherThePingCounts_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("recorded");
    QTest::newRow("199") << 199 << false;
    QTest::newRow("200") << 200 << true;
    QTest::newRow("204") << 204 << true;
    QTest::newRow("399") << 399 << true;
    QTest::newRow("400") << 400 << false;
    QTest::newRow("500") << 500 << false;
}

void UsagePingTest::statusDecidesWhetherThePingCounts() {
    QFETCH(int, status);
    QFETCH(bool, recorded);
    settings_->setInt(keys::ctPanelOpens, 4);
    settings_->setInt(keys::ctCleans, 2);
    server_->setMode(LoopbackHttpServer::Mode::Answer, status);
    UsagePing& ping = makePing(server_->url(QStringLiteral("/p")), 2000);

    QCOMPARE(pingAndWait(ping), recorded);

    QCOMPARE(server_->requests().size(), 1);
    QCOMPARE(settings_->dateValue(keys::lastHeartbeat).has_value(), recorded);
    QCOMPARE(settings_->intValue(keys::ctPanelOpens), recorded ? 0 : 4);
    QCOMPARE(settings_->intValue(keys::ctCleans), recorded ? 0 : 2);
}

void UsagePingTest::unansweredRequestTimesOutWithoutRecording() {
    settings_->setInt(keys::ctPanelOpens, 2);
    server_->setMode(LoopbackHttpServer::Mode::Silent);
    UsagePing& ping = makePing(server_->url(QStringLiteral("/p")), 300);

    QVERIFY(!pingAndWait(ping));

    QCOMPARE(server_->requests().size(), 1);
    QVERIFY(!settings_->dateValue(keys::lastHeartbeat).has_value());
    QCOMPARE(settings_->intValue(keys::ctPanelOpens), 2);
}

void UsagePingTest::answerCutOffAfterTheStatusLineDoesNotCount() {
    settings_->setInt(keys::ctCleans, 3);
    server_->setMode(LoopbackHttpServer::Mode::HeadersStall, 200);
    UsagePing& ping = makePing(server_->url(QStringLiteral("/p")), 300);

    QVERIFY(!pingAndWait(ping));

    QVERIFY(!settings_->dateValue(keys::lastHeartbeat).has_value());
    QCOMPARE(settings_->intValue(keys::ctCleans), 3);
}

void UsagePingTest::countsMadeDuringTheRequestSurviveTheAnswer() {
    settings_->setInt(keys::ctPanelOpens, 5);
    settings_->setInt(keys::ctCleans, 2);
    server_->setMode(LoopbackHttpServer::Mode::Hold, 200);
    // The panel opens once more while the request is on the wire, then the service answers.
    connect(server_.get(), &LoopbackHttpServer::requestReceived, this, [this] {
        settings_->increment(keys::ctPanelOpens);
        server_->release();
    });
    UsagePing& ping = makePing(server_->url(QStringLiteral("/p")));

    QVERIFY(pingAndWait(ping));

    const auto items = queryItems(server_->requests().constFirst().target);
    QCOMPARE(items[3].second, QStringLiteral("5"));
    QCOMPARE(items[4].second, QStringLiteral("2"));
    QCOMPARE(settings_->intValue(keys::ctPanelOpens), 1);
    QCOMPARE(settings_->intValue(keys::ctCleans), 0);
}

void UsagePingTest::spacingFromTheLastHeartbeat_data() {
    QTest::addColumn<qint64>("secondsAgo");
    QTest::addColumn<bool>("sends");
    QTest::newRow("19 hours ago") << qint64(19 * 3600) << false;
    QTest::newRow("1 second short of 20 hours") << qint64(72'000 - 1) << false;
    QTest::newRow("exactly 20 hours ago") << qint64(72'000) << true;
    QTest::newRow("3 days ago") << qint64(3 * 86'400) << true;
}

void UsagePingTest::spacingFromTheLastHeartbeat() {
    QFETCH(qint64, secondsAgo);
    QFETCH(bool, sends);
    const QDateTime last = now_.addSecs(-secondsAgo);
    settings_->setDate(keys::lastHeartbeat, last);
    UsagePing& ping = makePing(server_->url(QStringLiteral("/p")));

    if (sends) {
        QVERIFY(pingAndWait(ping));
        QCOMPARE(settings_->dateValue(keys::lastHeartbeat), std::optional<QDateTime>(now_));
    } else {
        ping.sendUsagePing();
        QCOMPARE(network_->requests, 0);
        QCOMPARE(settings_->dateValue(keys::lastHeartbeat), std::optional<QDateTime>(last));
        QVERIFY(!settings_->stringValue(keys::installID).has_value());
    }
}

void UsagePingTest::heartbeatInTheFutureHoldsThePingUntil20HoursPastIt() {
    const QDateTime future = now_.addDays(2);
    settings_->setDate(keys::lastHeartbeat, future);
    UsagePing& ping = makePing(server_->url(QStringLiteral("/p")));

    for (const qint64 offset : {qint64(0), qint64(3600), qint64(72'000 - 1)}) {
        now_ = future.addSecs(offset);
        ping.sendUsagePing();
        QCOMPARE(network_->requests, 0);
    }
    now_ = future.addSecs(72'000);
    QVERIFY(pingAndWait(ping));
    QCOMPARE(settings_->dateValue(keys::lastHeartbeat), std::optional<QDateTime>(now_));
}

void UsagePingTest::endpointQueryIsReplaced() {
    UsagePing& ping =
        makePing(server_->url(QStringLiteral("/v2/hb?id=stale&app=other&extra=1#section")));

    QVERIFY(pingAndWait(ping));

    const QString target = server_->requests().constFirst().target;
    QVERIFY2(target.startsWith(QStringLiteral("/v2/hb?id=")), qPrintable(target));
    QVERIFY(!target.contains(QStringLiteral("stale")));
    QVERIFY(!target.contains(QStringLiteral("extra")));
    QCOMPARE(queryItems(target).size(), 6);
    QCOMPARE(queryItems(target).constLast().second, QStringLiteral("swk"));
}

void UsagePingTest::disabledAnalyticsSendsAndCreatesNothing() {
    settings_->setBool(keys::disableAnalytics, true);
    settings_->setInt(keys::ctPanelOpens, 7);
    UsagePing& ping = makePing(server_->url(QStringLiteral("/p")));

    ping.sendUsagePing();

    QCOMPARE(network_->requests, 0);
    QVERIFY(!settings_->stringValue(keys::installID).has_value());
    QVERIFY(!settings_->dateValue(keys::lastHeartbeat).has_value());
    QCOMPARE(settings_->intValue(keys::ctPanelOpens), 7);
}

void UsagePingTest::installIDIsKeptOrReplacedWhenEmpty_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("kept");
    QTest::newRow("empty string") << QString() << false;
    QTest::newRow("existing id") << QStringLiteral("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0") << true;
}

void UsagePingTest::installIDIsKeptOrReplacedWhenEmpty() {
    QFETCH(QString, stored);
    QFETCH(bool, kept);
    settings_->setString(keys::installID, stored);
    UsagePing& ping = makePing(server_->url(QStringLiteral("/p")));

    QVERIFY(pingAndWait(ping));

    const QString sent = queryItems(server_->requests().constFirst().target).constFirst().second;
    QCOMPARE(settings_->stringValue(keys::installID), std::optional<QString>(sent));
    if (kept) {
        QCOMPARE(sent, stored);
    } else {
        QVERIFY2(kCanonicalUuid.match(sent).hasMatch(), qPrintable(sent));
    }
}

void UsagePingTest::unusableEndpointsTurnThePingOff_data() {
    QTest::addColumn<QString>("endpoint");
    QTest::newRow("empty") << QString();
    QTest::newRow("not a URL") << QStringLiteral("usage service");
    QTest::newRow("relative") << QStringLiteral("/usage/ping");
    QTest::newRow("no host") << QStringLiteral("http://");
    QTest::newRow("not HTTP") << QStringLiteral("file:///etc/passwd");
}

void UsagePingTest::unusableEndpointsTurnThePingOff() {
    QFETCH(QString, endpoint);
    UsagePing& ping = makePing(endpoint);

    ping.sendUsagePing();

    QCOMPARE(network_->requests, 0);
    QVERIFY(!settings_->stringValue(keys::installID).has_value());
}

QTEST_GUILESS_MAIN(UsagePingTest)
#include "usage_ping_test.moc"
