// The settings store: value kinds, on-disk forms, counters under contention, damaged files.

#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <thread>
#include <vector>

#include "ops/settings.h"

using namespace sweepkin;

class TestSettings : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString iniPath(const char* name) const { return dir_.filePath(QLatin1String(name)); }

    void writeFile(const QString& path, const QByteArray& content) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

  private slots:
    void freshStoreGivesEmptyValues() {
        SettingsStore store(iniPath("fresh.conf"));
        QCOMPARE(store.boolValue(keys::acceptedEULAv1), false);
        QCOMPARE(store.boolValue(keys::disableAnalytics), false);
        QCOMPARE(store.intValue(keys::ctCleans), 0);
        QCOMPARE(store.intValue(keys::ctPanelOpens), 0);
        QVERIFY(!store.dateValue(keys::lastClean).has_value());
        QVERIFY(!store.dateValue(keys::lastHeartbeat).has_value());
        QVERIFY(!store.stringValue(keys::installID).has_value());
    }

    void valuesSurviveAReopen() {
        const QString path = iniPath("roundtrip.conf");
        const QDateTime when = QDateTime::currentDateTime().addSecs(-3600);
        {
            SettingsStore store(path);
            store.setBool(keys::didInitialLoginSetup, true);
            store.setBool(keys::acceptedEULAv1, false);
            store.setInt(keys::ctPanelOpens, 9'000'000'000LL);
            store.setDate(keys::lastClean, when);
            store.setString(keys::installID, QStringLiteral("A, B @C"));
        }
        SettingsStore reopened(path);
        QCOMPARE(reopened.boolValue(keys::didInitialLoginSetup), true);
        QCOMPARE(reopened.boolValue(keys::acceptedEULAv1), false);
        QCOMPARE(reopened.intValue(keys::ctPanelOpens), 9'000'000'000LL);
        QCOMPARE(reopened.dateValue(keys::lastClean).value_or(QDateTime()), when);
        QCOMPARE(reopened.stringValue(keys::installID).value_or(QString()),
                 QStringLiteral("A, B @C"));
    }

    // Values written by hand into the file: only the forms the store writes itself count.
    void handWrittenValues_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected");  // "absent" or the value read

        QTest::newRow("date as string") << QByteArray("lastClean=2026-03-05 14:03:09") << "date"
                                        << "absent";
        QTest::newRow("date as number") << QByteArray("lastClean=1772719389") << "date"
                                        << "absent";
        QTest::newRow("date broken variant")
            << QByteArray("lastClean=@Variant(\\0\\0\\0\\x10garbage)") << "date"
            << "absent";
        QTest::newRow("bool true") << QByteArray("disableAnalytics=true") << "bool"
                                   << "true";
        QTest::newRow("bool yes") << QByteArray("disableAnalytics=yes") << "bool"
                                  << "false";
        QTest::newRow("bool 1") << QByteArray("disableAnalytics=1") << "bool"
                                << "false";
        QTest::newRow("int decimal") << QByteArray("ctCleans=42") << "int"
                                     << "42";
        QTest::newRow("int negative") << QByteArray("ctCleans=-3") << "int"
                                      << "-3";
        QTest::newRow("int words") << QByteArray("ctCleans=many") << "int"
                                   << "0";
        QTest::newRow("int float") << QByteArray("ctCleans=4.5") << "int"
                                   << "0";
        QTest::newRow("string list") << QByteArray("installID=a, b") << "string"
                                     << "absent";
    }

    void handWrittenValues() {
        QFETCH(QByteArray, line);
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        const QString path = iniPath(QTest::currentDataTag());
        writeFile(path, "[General]\n" + line + "\n");
        SettingsStore store(path);
        if (kind == "date") {
            const auto d = store.dateValue(keys::lastClean);
            QCOMPARE(d.has_value() ? d->toString(Qt::ISODate) : QStringLiteral("absent"), expected);
        } else if (kind == "bool") {
            QCOMPARE(store.boolValue(keys::disableAnalytics) ? "true" : "false", expected);
        } else if (kind == "int") {
            QCOMPARE(QString::number(store.intValue(keys::ctCleans)), expected);
        } else {
            QCOMPARE(store.stringValue(keys::installID).value_or(QStringLiteral("absent")),
                     expected);
        }
    }

    void corruptFileGivesDefaultsAndStaysUsable() {
        const QString path = iniPath("corrupt.conf");
        QByteArray junk;
        for (int i = 0; i < 4096; ++i) junk.append(char((i * 131 + 7) % 256));
        writeFile(path, "[General\nlastClean=@Variant(\\xff\\xff\n" + junk);
        SettingsStore store(path);
        QVERIFY(!store.dateValue(keys::lastClean).has_value());
        QCOMPARE(store.intValue(keys::ctCleans), 0);
        QCOMPARE(store.increment(keys::ctCleans), 1);
        QCOMPARE(store.intValue(keys::ctCleans), 1);
    }

    void userStoreLivesInTheConfigFolder() {
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", home.path().toUtf8());
        qunsetenv("XDG_CONFIG_HOME");
        SettingsStore().setBool(keys::acceptedEULAv1, true);
        qputenv("HOME", oldHome);
        if (!oldConfig.isEmpty()) qputenv("XDG_CONFIG_HOME", oldConfig);
        const QByteArray content = [&] {
            QFile f(home.filePath(".config/Sweepkin/Sweepkin.conf"));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        QVERIFY2(content.contains("acceptedEULAv1=true"), content.constData());
    }

    void unreadableFileGivesDefaults() {
        const QString path = iniPath("unreadable.conf");
        writeFile(path, "[General]\nctCleans=7\nacceptedEULAv1=true\n");
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        if (::geteuid() == 0) QSKIP("root reads any file; runs as a normal user");
        SettingsStore store(path);
        QCOMPARE(store.intValue(keys::ctCleans), 0);
        QCOMPARE(store.boolValue(keys::acceptedEULAv1), false);
        store.setInt(keys::ctCleans, 1);  // fails quietly
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }

    void missingFolderGivesDefaults() {
        SettingsStore store(iniPath("missing-folder/deeper/store.conf"));
        QCOMPARE(store.intValue(keys::ctCleans), 0);
        QVERIFY(!store.dateValue(keys::lastClean));
    }

    void countersUnderContention() {
        const QString path = iniPath("counters.conf");
        SettingsStore store(path);
        constexpr int kThreads = 8;
        constexpr int kPerThread = 50;
        std::vector<std::thread> threads;
        // Half the threads share one store, the others open their own on the same file.
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&store, &path, t] {
                SettingsStore own(path);
                SettingsStore& use = (t % 2 == 0) ? store : own;
                for (int i = 0; i < kPerThread; ++i) use.increment(keys::ctPanelOpens);
            });
        }
        for (auto& t : threads) t.join();
        QCOMPARE(store.intValue(keys::ctPanelOpens), qint64(kThreads * kPerThread));
    }

    void lowerCounterStopsAtZero() {
        SettingsStore store(iniPath("lower.conf"));
        store.setInt(keys::ctCleans, 5);
        QCOMPARE(store.lowerCounter(keys::ctCleans, 3), 2);
        QCOMPARE(store.lowerCounter(keys::ctCleans, 3), 0);
        QCOMPARE(store.intValue(keys::ctCleans), 0);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
