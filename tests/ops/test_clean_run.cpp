// The clean run end to end on a temporary home folder: selection, confirmation, closing a real
// running process, guarded removal, report, settings, log line, rescan and completion dialog.

#include <optional>

#include "engine/app_target.h"
#include "engine/proc_running_apps.h"
#include "engine/sizes.h"
#include "ops/clean_run.h"
#include "ops/panel_texts.h"
#include "ops/scan.h"
#include "tests/ops/fakes.h"
#include "tests/ops/tree.h"

using namespace sweepkin;
using namespace sweepkin::testing;

namespace {

QString sizeText(std::int64_t bytes) {
    return QString::fromStdString(formatBytes(bytes));
}

// One temporary home with everything the delegate would own.
struct World {
    QTemporaryDir home;
    QString at(const QString& rel) const { return home.filePath(rel); }
    const QString reportPath = at("Library/Application Support/Sweepkin/last_cleanup_report.md");
    const QString logPath = at("Library/Logs/Sweepkin.log");
    const bool homeSet = qputenv("HOME", home.path().toUtf8());
    UIModel model;
    std::vector<AppTarget> targets = buildCacheTargets(at("Library/Caches/CloudKit").toStdString());
    ScriptedDesktop desktop;
    SettingsStore settings{at(".config/Sweepkin/Sweepkin.conf")};
    ProcRunningApps apps{ExecutableNames{{"com.google.Chrome", {"fakechrome-cleanrun"}}}};
    ActivityLog log{logPath.toStdString(), 5'242'880};
    FixedLoginItem login{false};
    Scanner scanner{model, targets};
    int sleeps = 0;
    std::unique_ptr<CleanRun> run = std::make_unique<CleanRun>(CleanRunContext{
        model, targets, desktop, settings, apps, log, reportPath.toStdString(),
        [this] { refreshTexts(model, settings, login); }, [this] { scanner.startScan(); },
        [this](std::chrono::milliseconds) {
            ++sleeps;
            QThread::msleep(50);
        }});

    void tick(QVector<CacheRow> rows) { model.setRows(std::move(rows)); }
    void waitForFinish(int alerts) {
        QTRY_COMPARE_WITH_TIMEOUT(desktop.alerts.size(), alerts, 60'000);
        log.waitForIdle();
    }
};

}  // namespace

class TestCleanRun : public QObject {
    Q_OBJECT

    QString fakeChrome_;
    QTemporaryDir binDir_;
    std::unique_ptr<World> w_;
    std::unique_ptr<QProcess> chromeOwner_;

  private slots:
    void initTestCase() {
        fakeChrome_ = binDir_.filePath("fakechrome-cleanrun");
        QVERIFY(QFile::copy(QStringLiteral(QUIT_HELPER_PATH), fakeChrome_));
        QVERIFY(QFile::setPermissions(fakeChrome_, QFile::ReadOwner | QFile::ExeOwner));
    }

    void init() { w_ = std::make_unique<World>(); }

    void cleanup() {
        // Let a folder made read-only by a test be removed with the temporary home.
        QProcess::execute("chmod", {"-R", "u+rwx", w_->home.path()});
        w_.reset();
        if (chromeOwner_) {
            chromeOwner_->kill();
            chromeOwner_->waitForFinished();
            chromeOwner_.reset();
        }
    }

    void confirmationTexts_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QStringList>("running");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("tail");  // what follows the fixed sentence
        const QStringList none;
        QTest::newRow("one") << 1 << qint64(1'230'000'000) << none
                             << "Clean 1 selected cache (1.23 GB)?" << QString();
        QTest::newRow("three") << 3 << qint64(740'000'000) << none
                               << "Clean 3 selected caches (740 MB)?" << QString();
        QTest::newRow("no sizes") << 2 << qint64(0) << none << "Clean 2 selected caches (0 B)?"
                                  << QString();
        QTest::newRow("running")
            << 2 << qint64(1'500'000'000) << QStringList{"Google Chrome", "Slack"}
            << "Clean 2 selected caches (1.50 GB)?"
            << "\n\nThese apps are open and will be closed first: Google Chrome, Slack.";
    }

    void confirmationTexts() {
        QFETCH(int, count);
        QFETCH(qint64, total);
        QFETCH(QStringList, running);
        QFETCH(QString, message);
        QFETCH(QString, tail);
        const Alert alert = confirmationAlert(count, total, running);
        QCOMPARE(alert.message, message);
        QCOMPARE(alert.informative,
                 QStringLiteral("Only cache folders are deleted — apps simply rebuild them. Your "
                                "logins, history, bookmarks and settings are never touched.") +
                     tail);
        QVERIFY(alert.warning);
        QCOMPARE(alert.buttons, QStringList({"Clean", "Cancel"}));
    }

    void nothingTickedDoesNothing() {
        w_->tick({CacheRow{"Slack", 5'000'000, false}});
        w_->run->cleanSelected();
        QVERIFY(w_->desktop.alerts.isEmpty());
        QCOMPARE(w_->desktop.panelCloses, 0);
        QCOMPARE(w_->settings.intValue(keys::ctCleans), 0);
        QVERIFY(!w_->model.cleaning());
    }

    void cancelChangesNothing() {
        QVERIFY(makeFile(w_->at("Library/Caches/com.tinyspeck.slackmacgap/blob"), 2'000'000));
        w_->tick({CacheRow{"Slack", 2'000'000, true}, CacheRow{"Spotify", std::nullopt, true}});
        w_->desktop.answers = {1};
        w_->run->cleanSelected();
        QCOMPARE(w_->desktop.alerts.size(), 1);
        QCOMPARE(w_->desktop.alerts[0].message, QStringLiteral("Clean 2 selected caches (2 MB)?"));
        QCOMPARE(w_->desktop.panelCloses, 1);
        QCoreApplication::processEvents();
        w_->log.waitForIdle();
        QVERIFY(!w_->model.cleaning());
        QCOMPARE(w_->settings.intValue(keys::ctCleans), 0);
        QVERIFY(!w_->settings.dateValue(keys::lastClean));
        QVERIFY(QFile::exists(w_->at("Library/Caches/com.tinyspeck.slackmacgap/blob")));
        QVERIFY(!QFile::exists(w_->reportPath));
        QVERIFY(!QFile::exists(w_->logPath));
    }

    void fullRun() {
        // Chrome: one cache folder and one profile cache; its cookies must survive.
        QVERIFY(makeFile(w_->at("Library/Caches/Google/Chrome/data_0"), 1'500'000));
        QVERIFY(
            makeFile(w_->at("Library/Application Support/Google/Chrome/Default/Cache/f"), 500'000));
        QVERIFY(
            makeFile(w_->at("Library/Application Support/Google/Chrome/Default/Cookies"), 4096));
        QVERIFY(makeFile(w_->at("Library/Caches/com.tinyspeck.slackmacgap/blob"), 2'000'000));
        QVERIFY(makeFile(w_->at("Library/Caches/com.spotify.client/unticked"), 3'000'000));
        // Safari: one removable folder, one holding a file in a folder we may not write.
        QVERIFY(makeFile(w_->at("Library/Containers/com.apple.Safari/Data/Library/Caches/x"),
                         1'000'000));
        const QString locked = w_->at("Library/Caches/com.apple.Safari/locked");
        QVERIFY(makeFile(locked + "/stuck", 1'200'000));
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
        if (::geteuid() == 0) QSKIP("a read-only folder stops no removal by root; runs as nobody");

        chromeOwner_ = std::make_unique<QProcess>();
        chromeOwner_->start(fakeChrome_, {"quit"});
        QVERIFY(chromeOwner_->waitForReadyRead(10'000));

        // Ticked in an order unlike the catalogue's; Spotify unticked; Code has nothing.
        w_->tick({CacheRow{"Visual Studio Code", std::nullopt, true},
                  CacheRow{"Slack", 2'000'000, true}, CacheRow{"Spotify", 3'000'000, false},
                  CacheRow{"Safari", 2'200'000, true}, CacheRow{"Google Chrome", 2'000'000, true}});
        w_->desktop.answers = {0, 1};  // "Clean", then the completion dialog's second button
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);

        w_->run->cleanSelected();
        QVERIFY(w_->model.cleaning());
        QCOMPARE(w_->settings.intValue(keys::ctCleans), 1);
        const Alert confirm = w_->desktop.alerts.value(0);
        // The unmeasured Code row adds nothing; the unticked Spotify row is not counted.
        QCOMPARE(confirm.message, "Clean 4 selected caches (" + sizeText(6'200'000) + ")?");
        QVERIFY(confirm.informative.endsWith(
            "These apps are open and will be closed first: Google Chrome."));

        w_->waitForFinish(2);
        QVERIFY(!w_->model.cleaning());
        // Asked to quit, and it did, with a normal exit after its SIGTERM handler.
        QVERIFY(chromeOwner_->state() == QProcess::NotRunning ||
                chromeOwner_->waitForFinished(5000));
        QCOMPARE(chromeOwner_->exitStatus(), QProcess::NormalExit);

        const std::int64_t cleared = 1'500'000 + 500'000 + 2'000'000 + 1'000'000;
        const QString report = QString::fromUtf8(readAll(w_->reportPath));
        QVERIFY2(report.contains("- Google Chrome: cleared " + sizeText(2'000'000) +
                                 "\n- Safari: partly cleared " + sizeText(1'000'000) +
                                 " — some items need Full Disk Access\n- Slack: cleared " +
                                 sizeText(2'000'000) + "\n- Visual Studio Code: cleared 0 B\n"),
                 qPrintable(report));
        QVERIFY(report.contains("**Total cleared:** " + sizeText(cleared) + "\n"));

        const Alert done = w_->desktop.alerts.value(1);
        QCOMPARE(done.message, "Done — cleared " + sizeText(cleared));
        QCOMPARE(done.buttons, QStringList({"OK", "Open Full Disk Access Settings"}));
        QCOMPARE(w_->desktop.openedUrls.size(), 1);
        QVERIFY(w_->desktop.openedUrls[0].toLocalFile().endsWith("cache-removal-help.html"));

        const auto lastClean = w_->settings.dateValue(keys::lastClean);
        QVERIFY(lastClean && *lastClean >= before && *lastClean <= QDateTime::currentDateTime());
        QCOMPARE(w_->model.lastCleanText(),
                 lastClean->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        const QByteArray log = readAll(w_->logPath);
        QCOMPARE(log.count('\n'), 1);
        QVERIFY2(
            log.endsWith(("] Cleaned 4 target(s), freed " + sizeText(cleared) + ".\n").toUtf8()),
            log.constData());

        QVERIFY(!QFile::exists(w_->at("Library/Caches/Google/Chrome")));
        QVERIFY(QFile::exists(w_->at("Library/Application Support/Google/Chrome/Default/Cookies")));
        QVERIFY(QFile::exists(w_->at("Library/Caches/com.spotify.client/unticked")));
        QVERIFY(QFile::exists(locked + "/stuck"));

        // The rescan lists what is left: Safari's stuck file and the unticked Spotify.
        QCOMPARE(w_->scanner.scanGeneration(), qint64(1));
        w_->scanner.waitForIdle();
        QTRY_VERIFY_WITH_TIMEOUT(!w_->model.scanning(), 30'000);
        QCOMPARE(w_->model.rows(), QVector<CacheRow>({CacheRow{"Safari", 1'200'000, true},
                                                      CacheRow{"Spotify", 3'000'000, false}}));
    }

    void runWithoutFailuresOffersOnlyOk() {
        QVERIFY(makeFile(w_->at("Library/Caches/CloudKit/db"), 1'000'000));
        w_->tick({CacheRow{"iCloud (CloudKit) cache", 1'000'000, true}});
        w_->desktop.answers = {0, 0};
        w_->run->cleanSelected();
        QVERIFY(!w_->desktop.alerts[0].informative.contains("will be closed"));
        w_->waitForFinish(2);
        QCOMPARE(w_->desktop.alerts[1].buttons, QStringList({"OK"}));
        QVERIFY(!w_->desktop.alerts[1].informative.contains("Full Disk Access"));
        QVERIFY(w_->desktop.openedUrls.isEmpty());
        QCOMPARE(w_->sleeps, 0);  // no application to close for this target
        QVERIFY(QString::fromUtf8(readAll(w_->reportPath))
                    .contains("- iCloud (CloudKit) cache: cleared " + sizeText(1'000'000) + "\n"));
    }

    void ownerGoneBeforeFinishSkipsOnlyTheFinish() {
        QVERIFY(makeFile(w_->at("Library/Caches/com.tinyspeck.slackmacgap/blob"), 2'000'000));
        w_->tick({CacheRow{"Slack", 2'000'000, true}});
        w_->desktop.answers = {0};
        w_->run->cleanSelected();
        w_->run.reset();  // waits for the body; its finish is dropped
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        w_->log.waitForIdle();
        QCOMPARE(w_->desktop.alerts.size(), 1);
        QVERIFY(w_->model.cleaning());
        QVERIFY(QFile::exists(w_->reportPath));
        QVERIFY(w_->settings.dateValue(keys::lastClean));
        QVERIFY(readAll(w_->logPath).contains("Cleaned 1 target(s)"));
        QCOMPARE(w_->scanner.scanGeneration(), qint64(0));
    }
};

QTEST_GUILESS_MAIN(TestCleanRun)
#include "test_clean_run.moc"
