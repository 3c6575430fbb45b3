// A ping library built with a loopback endpoint baked in, exactly as a release build bakes in
// SWEEPKIN_USAGE_ENDPOINT: without any override the ping must reach that address.

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "loopback_http_server.h"
#include "ops/settings.h"
#include "ping/usage_ping.h"

using namespace sweepkin;

class BuiltInEndpointTest : public QObject {
    Q_OBJECT

  private slots:
    void tableUnscramblesToTheConfiguredAddress() {
        QCOMPARE(builtInUsageEndpoint(), QStringLiteral(SWEEPKIN_LOOPBACK_ENDPOINT));
    }

    void libraryHoldsNoPlainAddress() {
        QFile library(QStringLiteral(SWEEPKIN_PING_LIBRARY));
        QVERIFY(library.open(QIODevice::ReadOnly));
        const QByteArray bytes = library.readAll();
        QVERIFY(!bytes.contains(QByteArrayLiteral(SWEEPKIN_LOOPBACK_ENDPOINT)));
        QVERIFY(!bytes.contains(QByteArrayLiteral("127.0.0.1")));
    }

    void defaultPingGoesToTheBuiltInAddress() {
        testing::LoopbackHttpServer server;
        // Another build's copy of this test may hold the port for a moment.
        bool listening = server.listen(SWEEPKIN_LOOPBACK_PORT);
        for (int attempt = 0; !listening && attempt < 50; ++attempt) {
            QTest::qWait(100);
            listening = server.listen(SWEEPKIN_LOOPBACK_PORT);
        }
        if (!listening) QSKIP("the loopback port baked into this test build is taken");
        QTemporaryDir dir;
        SettingsStore settings(dir.filePath(QStringLiteral("Sweepkin.conf")));
        settings.setInt(keys::ctCleans, 4);
        UsagePing ping(settings);
        QSignalSpy finished(&ping, &UsagePing::pingFinished);
        ping.sendUsagePing();
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.constFirst().constFirst().toBool(), true);
        QCOMPARE(server.requests().size(), 1);
        const QString target = server.requests().constFirst().target;
        QVERIFY2(target.startsWith(QStringLiteral("/usage/v1/ping?id=")), qPrintable(target));
        QVERIFY(!target.contains(QStringLiteral("stale")));
        QVERIFY(target.contains(QStringLiteral("&fixes=4&app=swk")));
        QCOMPARE(settings.intValue(keys::ctCleans), 0);
    }
};

QTEST_GUILESS_MAIN(BuiltInEndpointTest)
#include "built_in_endpoint_test.moc"
