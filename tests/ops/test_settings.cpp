// The settings store: value kinds, on-disk forms, counters under contention, damaged files.

#include <QDateTime>
#include <vector>

#include "ops/settings.h"
#include "tests/ops/tree.h"

using namespace sweepkin;

class TestSettings : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString write(const QString& name, const QByteArray& content) {
        const QString path = dir_.filePath(name);
        return testing::writeFile(path, content) ? path : QString();
    }
    static void expectDefaults(SettingsStore& store) {
        QCOMPARE(store.boolValue(keys::acceptedEULAv1), false);
        QCOMPARE(store.boolValue(keys::disableAnalytics), false);
        QCOMPARE(store.intValue(keys::ctCleans), 0);
        QCOMPARE(store.intValue(keys::ctPanelOpens), 0);
        QVERIFY(!store.dateValue(keys::lastClean).has_value());
        QVERIFY(!store.dateValue(keys::lastHeartbeat).has_value());
        QVERIFY(!store.stringValue(keys::installID).has_value());
    }

  private slots:
    void freshOrMissingFolderGivesDefaults() {
        SettingsStore fresh(dir_.filePath("fresh.conf"));
        expectDefaults(fresh);
        SettingsStore missing(dir_.filePath("missing-folder/deeper/store.conf"));
        expectDefaults(missing);
    }

    void valuesSurviveAReopen() {
        const QString path = dir_.filePath("roundtrip.conf");
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
        QCOMPARE(reopened.stringValue(keys::installID), std::optional<QString>("A, B @C"));
    }

    // Values written by hand into the file: only the forms the store writes itself count.
    void handWrittenValues_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("expected");  // "absent" or the value read
        const std::pair<const char*, const char*> cases[] = {
            {"lastClean=2026-03-05 14:03:09", "absent"},
            {"lastClean=1772719389", "absent"},
            {"lastClean=@Variant(\\0\\0\\0\\x10garbage)", "absent"},
            {"disableAnalytics=true", "true"},
            {"disableAnalytics=yes", "false"},
            {"disableAnalytics=1", "false"},
            {"ctCleans=42", "42"},
            {"ctCleans=-3", "-3"},
            {"ctCleans=many", "0"},
            {"ctCleans=4.5", "0"},
            {"installID=a, b", "absent"},
        };
        for (const auto& [line, expected] : cases)
            QTest::newRow(line) << QByteArray(line) << QString::fromLatin1(expected);
    }

    void handWrittenValues() {
        QFETCH(QByteArray, line);
        QFETCH(QString, expected);
        static int n = 0;
        SettingsStore store(write(QString("hand%1.conf").arg(++n), "[General]\n" + line + "\n"));
        QString got;
        if (line.startsWith("lastClean")) {
            const auto d = store.dateValue(keys::lastClean);
            got = d ? d->toString(Qt::ISODate) : "absent";
        } else if (line.startsWith("disable")) {
            got = store.boolValue(keys::disableAnalytics) ? "true" : "false";
        } else if (line.startsWith("ct")) {
            got = QString::number(store.intValue(keys::ctCleans));
        } else {
            got = store.stringValue(keys::installID).value_or("absent");
        }
        QCOMPARE(got, expected);
    }

    void corruptFileGivesDefaultsAndStaysUsable() {
        QByteArray junk;
        for (int i = 0; i < 4096; ++i) junk.append(char((i * 131 + 7) % 256));
        SettingsStore store(
            write("corrupt.conf", "[General\nlastClean=@Variant(\\xff\\xff\n" + junk));
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
        QVERIFY(testing::readAll(home.filePath(".config/Sweepkin/Sweepkin.conf"))
                    .contains("acceptedEULAv1=true"));
    }

    void unreadableFileGivesDefaults() {
        const QString path =
            write("unreadable.conf", "[General]\nctCleans=7\nacceptedEULAv1=true\n");
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        if (::geteuid() == 0) QSKIP("root reads any file; runs as a normal user");
        SettingsStore store(path);
        QCOMPARE(store.intValue(keys::ctCleans), 0);
        QCOMPARE(store.boolValue(keys::acceptedEULAv1), false);
        store.setInt(keys::ctCleans, 1);  // fails quietly
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }

    // Half the threads share one store, the others open their own on the same file.
    void countersUnderContention() {
        const QString path = dir_.filePath("counters.conf");
        SettingsStore store(path);
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&store, &path, t] {
                SettingsStore own(path);
                for (int i = 0; i < 50; ++i) (t % 2 ? own : store).increment(keys::ctPanelOpens);
            });
        }
        for (auto& t : threads) t.join();
        QCOMPARE(store.intValue(keys::ctPanelOpens), qint64(8 * 50));
    }

    void lowerCounterStopsAtZero() {
        SettingsStore store(dir_.filePath("lower.conf"));
        store.setInt(keys::ctCleans, 5);
        QCOMPARE(store.lowerCounter(keys::ctCleans, 3), 2);
        QCOMPARE(store.lowerCounter(keys::ctCleans, 3), 0);
        QCOMPARE(store.intValue(keys::ctCleans), 0);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
