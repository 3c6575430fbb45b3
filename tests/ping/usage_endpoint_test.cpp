// How the endpoint is stored in the binary and how the version texts of the ping are formed.

#include <QFile>
#include <QTest>
#include <vector>

#include "ping/usage_ping.h"
#include "usage_endpoint_table.h"

class UsageEndpointTest : public QObject {
    Q_OBJECT

  private slots:
    void unscrambleDecodesWellFormedUtf8Only_data() {
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ascii URL") << QByteArray("https://usage.example/ping") << 0xA7
                                   << QStringLiteral("https://usage.example/ping");
        QTest::newRow("zero key") << QByteArray("http://h/p") << 0 << QStringLiteral("http://h/p");
        QTest::newRow("non-ASCII path")
            << QByteArray("http://h/caf\xC3\xA9") << 0x3C << QStringLiteral("http://h/caf\u00E9");
        QTest::newRow("empty table") << QByteArray() << 0x5A << QString();
        QTest::newRow("lone lead byte") << QByteArray("http://h/\xC3") << 0xA7 << QString();
        QTest::newRow("0xFF byte") << QByteArray("http://\xFF/") << 0x11 << QString();
        QTest::newRow("overlong slash") << QByteArray("http:/\xC0\xAF") << 0xA7 << QString();
        QTest::newRow("surrogate") << QByteArray("http://h/\xED\xA0\x80") << 0xA7 << QString();
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << 0xA7 << QString();
    }

    void unscrambleDecodesWellFormedUtf8Only() {
        QFETCH(QByteArray, plain);
        QFETCH(int, key);
        QFETCH(QString, expected);
        std::vector<unsigned char> table;
        for (char c : plain) table.push_back(static_cast<unsigned char>(c) ^ key);
        QCOMPARE(sweepkin::unscrambleEndpoint(table, static_cast<unsigned char>(key)), expected);
    }

    void buildTableRoundTripsTheConfiguredEndpoint() {
        const QString configured = QStringLiteral(SWEEPKIN_CONFIGURED_ENDPOINT);
        QCOMPARE(sweepkin::builtInUsageEndpoint(), configured);
        const auto& table = sweepkin::generated::kUsageEndpointTable;
        const QByteArray plain = configured.toUtf8();
        QCOMPARE(qsizetype(table.size()), plain.size());
        QVERIFY(sweepkin::generated::kUsageEndpointKey != 0);
        for (std::size_t i = 0; i < table.size(); ++i) {
            const auto plainByte = static_cast<unsigned char>(plain[qsizetype(i)]);
            QVERIFY(table[i] != plainByte);
            if (plainByte < 0x80) QVERIFY2(table[i] >= 0x80, "an ASCII byte stayed readable");
        }
    }

    void builtLibraryHoldsNoPlainEndpoint() {
        const QByteArray plain = QByteArrayLiteral(SWEEPKIN_CONFIGURED_ENDPOINT);
        if (plain.isEmpty()) QSKIP("this build has no usage endpoint");
        QFile library(QStringLiteral(SWEEPKIN_PING_LIBRARY));
        QVERIFY(library.open(QIODevice::ReadOnly));
        QVERIFY(!library.readAll().contains(plain));
    }

    void majorMinorVersion() {
        const std::pair<const char*, const char*> cases[] = {
            {"6.1.0-13-amd64", "6.1"}, {"14.5.1", "14.5"}, {"22.04", "22.4"}, {"12", "12.0"},
            {"5.15rc2", "5.15"},       {"rolling", "0.0"}, {"", "0.0"}};
        for (const auto& [text, expected] : cases)
            QCOMPARE(sweepkin::majorMinorVersion(QString::fromLatin1(text)),
                     QString::fromLatin1(expected));
    }
};

QTEST_GUILESS_MAIN(UsageEndpointTest)
#include "usage_endpoint_test.moc"
