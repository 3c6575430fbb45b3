// The activity log: line format, folder creation, rotation boundary, ordering, failures.

#include <QDateTime>
#include <QRegularExpression>

#include "ops/activity_log.h"
#include "tests/ops/tree.h"

using namespace sweepkin;
using namespace sweepkin::testing;

namespace {

constexpr std::uint64_t kMaxLogBytes = 5'242'880;

void logOne(const QString& path, const QString& line) {
    ActivityLog log(path.toStdString(), kMaxLogBytes);
    log.logActivity(line);
    log.waitForIdle();
}

}  // namespace

class TestActivityLog : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> home_;
    QString path_;

  private slots:
    void init() {
        home_ = std::make_unique<QTemporaryDir>();
        path_ = home_->filePath("Sweepkin.log");
    }

    void firstLineCreatesFolderAndFile() {
        const QString path = home_->filePath("Library/Logs/Sweepkin.log");
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1000);
        logOne(path, QStringLiteral("Cleaned 2 target(s), freed 1.50 GB."));
        const QDateTime after = QDateTime::currentDateTime();

        const QString text = QString::fromUtf8(readAll(path));
        static const QRegularExpression shape(
            QStringLiteral("^\\[(\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2})\\] "
                           "Cleaned 2 target\\(s\\), freed 1\\.50 GB\\.\\n$"));
        const auto match = shape.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        const QDateTime stamp =
            QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QVERIFY(stamp >= before.addMSecs(-before.time().msec()) && stamp <= after);
        QVERIFY(!QFile::exists(path + ".old"));
    }

    void linesKeepSubmissionOrderAndUnicode() {
        ActivityLog log(path_.toStdString(), kMaxLogBytes);
        for (int i = 0; i < 200; ++i) log.logActivity(QStringLiteral("line %1 — ✓").arg(i));
        log.waitForIdle();
        const QStringList lines = QString::fromUtf8(readAll(path_)).split('\n');
        QCOMPARE(lines.size(), 201);  // the text ends with a line feed
        QVERIFY(lines.last().isEmpty());
        for (int i = 0; i < 200; ++i)
            QVERIFY2(lines[i].endsWith(QStringLiteral("] line %1 — ✓").arg(i)),
                     qPrintable(lines[i]));
    }

    void loggingFromSeveralThreadsLosesNothing() {
        ActivityLog log(path_.toStdString(), kMaxLogBytes);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&log, t] {
                for (int i = 0; i < 50; ++i)
                    log.logActivity(QStringLiteral("t%1 %2").arg(t).arg(i));
            });
        }
        for (auto& t : threads) t.join();
        log.waitForIdle();
        QCOMPARE(readAll(path_).count('\n'), 200);
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
        const QString old = path_ + ".old";
        QVERIFY(writeFile(path_, {}, existingSize));
        QVERIFY(writeFile(old, "earlier generation\n"));
        logOne(path_, QStringLiteral("next"));

        const QByteArray current = readAll(path_);
        QVERIFY(current.endsWith("] next\n"));
        if (rotated) {
            QVERIFY(current.startsWith('['));
            QCOMPARE(current.count('\n'), 1);
            QCOMPARE(QFileInfo(old).size(), existingSize);
        } else {
            QCOMPARE(qint64(current.size()) - existingSize,
                     qint64(sizeof("[2026-03-05 14:03:09] next\n") - 1));
            QCOMPARE(readAll(old), QByteArray("earlier generation\n"));
        }
    }

    // A log that exists but cannot be opened for appending keeps its content; the line is lost.
    void unopenableLogIsLeftAlone() {
        QVERIFY(writeFile(path_, "precious\n"));
        QFile::setPermissions(path_, QFile::ReadOwner);
        if (::geteuid() == 0) QSKIP("root can append to a read-only file; needs a normal user");
        logOne(path_, QStringLiteral("dropped"));
        QCOMPARE(readAll(path_), QByteArray("precious\n"));
    }

    void logPathThatIsAFolderIsLeftAlone() {
        QVERIFY(QDir().mkpath(path_ + "/inside"));
        logOne(path_, QStringLiteral("dropped"));
        QVERIFY(QFileInfo(path_ + "/inside").isDir());
        QVERIFY(!QFile::exists(path_ + ".old"));
    }

    void unwritableLocationDoesNothing() {
        QVERIFY(writeFile(home_->filePath("Library"), {}));  // a file where the folder should be
        const QString path = home_->filePath("Library/Logs/Sweepkin.log");
        logOne(path, QStringLiteral("lost"));
        QVERIFY(!QFile::exists(path));
        QCOMPARE(QFileInfo(home_->filePath("Library")).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestActivityLog)
#include "test_activity_log.moc"
