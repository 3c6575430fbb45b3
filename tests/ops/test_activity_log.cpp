// The activity log: line format, folder creation, rotation boundary, ordering, failures.

#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <thread>

#include "ops/activity_log.h"

using namespace sweepkin;

namespace {

constexpr std::uint64_t kMaxLogBytes = 5'242'880;

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

}  // namespace

class TestActivityLog : public QObject {
    Q_OBJECT

  private slots:
    void firstLineCreatesFolderAndFile() {
        QTemporaryDir home;
        const QString path = home.filePath("Library/Logs/Sweepkin.log");
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1000);
        {
            ActivityLog log(path.toStdString(), kMaxLogBytes);
            log.logActivity(QStringLiteral("Cleaned 2 target(s), freed 1.50 GB."));
            log.waitForIdle();
        }
        const QDateTime after = QDateTime::currentDateTime();

        const QString text = QString::fromUtf8(readAll(path));
        static const QRegularExpression shape(
            QStringLiteral("^\\[(\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2})\\] "
                           "Cleaned 2 target\\(s\\), freed 1\\.50 GB\\.\\n$"));
        const auto match = shape.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        const QDateTime stamp =
            QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QVERIFY(stamp >= before.addMSecs(-before.time().msec()));
        QVERIFY(stamp <= after);
        QVERIFY(!QFile::exists(path + ".old"));
    }

    void linesKeepSubmissionOrderAndUnicode() {
        QTemporaryDir home;
        const QString path = home.filePath("Sweepkin.log");
        ActivityLog log(path.toStdString(), kMaxLogBytes);
        for (int i = 0; i < 200; ++i) log.logActivity(QStringLiteral("line %1 — ✓").arg(i));
        log.waitForIdle();

        const QStringList lines = QString::fromUtf8(readAll(path)).split('\n');
        QCOMPARE(lines.size(), 201);  // the text ends with a line feed
        QVERIFY(lines.last().isEmpty());
        for (int i = 0; i < 200; ++i) {
            QVERIFY2(lines[i].endsWith(QStringLiteral("] line %1 — ✓").arg(i)),
                     qPrintable(lines[i]));
        }
    }

    void loggingFromSeveralThreadsLosesNothing() {
        QTemporaryDir home;
        const QString path = home.filePath("Sweepkin.log");
        ActivityLog log(path.toStdString(), kMaxLogBytes);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&log, t] {
                for (int i = 0; i < 50; ++i)
                    log.logActivity(QStringLiteral("t%1 %2").arg(t).arg(i));
            });
        }
        for (auto& t : threads) t.join();
        log.waitForIdle();
        QCOMPARE(readAll(path).count('\n'), 200);
    }

    void rotationBoundary_data() {
        QTest::addColumn<qint64>("existingSize");
        QTest::addColumn<bool>("rotated");
        QTest::newRow("at the limit") << qint64(kMaxLogBytes) << false;
        QTest::newRow("one byte over") << qint64(kMaxLogBytes + 1) << true;
    }

    void rotationBoundary() {
        QFETCH(qint64, existingSize);
        QFETCH(bool, rotated);
        QTemporaryDir home;
        const QString path = home.filePath("Sweepkin.log");
        const QString old = path + ".old";
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(existingSize));
            QFile o(old);
            QVERIFY(o.open(QIODevice::WriteOnly));
            o.write("earlier generation\n");
        }

        ActivityLog log(path.toStdString(), kMaxLogBytes);
        log.logActivity(QStringLiteral("next"));
        log.waitForIdle();

        const QByteArray current = readAll(path);
        QVERIFY(current.endsWith("] next\n"));
        if (rotated) {
            QVERIFY(current.startsWith('['));
            QCOMPARE(current.count('\n'), 1);
            QCOMPARE(QFileInfo(old).size(), existingSize);
        } else {
            QCOMPARE(qint64(current.size()) - existingSize,
                     qint64(QByteArray("[2026-03-05 14:03:09] next\n").size()));
            QCOMPARE(readAll(old), QByteArray("earlier generation\n"));
        }
    }

    // A log that exists but cannot be opened for appending keeps its content; the line is lost.
    void unopenableLogIsLeftAlone() {
        QTemporaryDir home;
        const QString path = home.filePath("Sweepkin.log");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("precious\n");
        }
        QFile::setPermissions(path, QFile::ReadOwner);
        if (::geteuid() == 0) QSKIP("root can append to a read-only file; needs a normal user");
        ActivityLog log(path.toStdString(), kMaxLogBytes);
        log.logActivity(QStringLiteral("dropped"));
        log.waitForIdle();
        QCOMPARE(readAll(path), QByteArray("precious\n"));
    }

    void logPathThatIsAFolderIsLeftAlone() {
        QTemporaryDir home;
        const QString path = home.filePath("Sweepkin.log");
        QVERIFY(QDir().mkpath(path + "/inside"));
        ActivityLog log(path.toStdString(), kMaxLogBytes);
        log.logActivity(QStringLiteral("dropped"));
        log.waitForIdle();
        QVERIFY(QFileInfo(path + "/inside").isDir());
        QVERIFY(!QFile::exists(path + ".old"));
    }

    void unwritableLocationDoesNothing() {
        QTemporaryDir home;
        QFile blocker(home.filePath("Library"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));  // a file where the folder should be
        blocker.close();
        const QString path = home.filePath("Library/Logs/Sweepkin.log");
        ActivityLog log(path.toStdString(), kMaxLogBytes);
        log.logActivity(QStringLiteral("lost"));
        log.waitForIdle();
        QVERIFY(!QFile::exists(path));
        QCOMPARE(QFileInfo(home.filePath("Library")).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestActivityLog)
#include "test_activity_log.moc"
