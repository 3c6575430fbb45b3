// The panel's work on a small catalogue in a scratch folder: the scan and the model it fills,
// then the clean run (confirmation, closing a running application, removal, report, settings,
// log line, rescan) and its dialogs.

#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <QTest>
#include <atomic>
#include <thread>

#include "engine/procs/proc_running_apps.h"
#include "ops/clean_run.h"
#include "ops/history_summary.h"
#include "ops/panel_texts.h"
#include "ops/report_dialogs.h"
#include "ops/scan.h"
#include "ops/watch.h"
#include "tests/ops/fakes.h"
#include "tests/support/tree.h"

using namespace sweepkin;
using namespace sweepkin::fixtures;
using sweepkin::testing::ScriptedDesktop;

namespace {

// The scratch folder is the home; each entry's folders lie in it.
AppTarget inHome(const char* name, std::optional<std::string> bundleID, const char* folder,
                 std::vector<std::string> items, bool startsUnticked = false) {
    return {folder, name, std::move(bundleID), {{RootKind::Home, {}, folder, std::move(items)}},
            {},     {},   startsUnticked};
}

struct World {
    ScratchDir dir;
    const bool homeSet = ::setenv("HOME", dir.path().c_str(), 1) == 0;
    std::string at(const std::string& rel) const { return dir / rel; }
    UIModel model;
    std::vector<AppTarget> targets{
        inHome("Slack", std::nullopt, "slack", {"Cache"}),
        inHome("Google Chrome", "test.chrome", "chrome", {"Cache", "*/Code Cache"}),
        inHome("Safari", std::nullopt, "safari", {"Cache", "Locked Cache"}),
        inHome("Spotify", std::nullopt, "spotify", {"Cache"}, true),
        inHome("Visual Studio Code", "test.code", "code", {"Cache"}),
        inHome("Gradle", std::nullopt, "gradle", {"caches", "daemon"})};
    ScriptedDesktop desktop;
    SettingsStore settings{QString::fromStdString(at("Sweepkin.conf"))};
    const std::string appName = "fakechrome-" + std::to_string(::getpid());  // this run's own
    // A program no rule knows (an AppImage, say), started in `folder`, which it holds.
    bool startHolder(QProcess& p, const std::string& folder) {
        makeDirs(at(folder));
        p.setWorkingDirectory(QString::fromStdString(at(folder)));
        return testing::startApp(p, QString::fromStdString(at("appimage-" + appName)));
    }
    ProcRunningApps apps{ProcessRules{{"test.chrome", {.names = {appName}}}}};
    ActivityLog log{at("state/Sweepkin.log"), 5'242'880};
    QDateTime now = QDateTime::currentDateTimeUtc();  // what the history records go by
    HistoryStore history{QString::fromStdString(at("state/history.sqlite")), {}};
    Scanner scanner{model, targets, &settings};
    std::unique_ptr<CleanRun> run = std::make_unique<CleanRun>(CleanRunContext{
        model, targets, desktop, settings, apps, log, at("state/report.md"),
        [this] { model.setLastCleanText(lastCleanText(settings)); },
        [this] { scanner.startScan(); }, [](std::chrono::milliseconds) { QThread::msleep(50); },
        [this](const CleanOutcome& outcome) {
            history.add(cleanRecord(model.rows(), outcome, now, targets));
        }});
    const bool recording =
        (recordMeasurements(scanner, model, history, [this] { return now; }), true);

    // The model's state as "rows/scanning/cleaning/free/last clean/login", and before each write.
    QString state() const {
        QString rows;
        for (const CacheRow& r : model.rows())
            rows += r.name + ":" + QString::number(r.size.value_or(0)) + (r.selected ? "+," : "-,");
        return rows + QString::asprintf("/%d/%d/", model.scanning(), model.cleaning()) +
               model.freeDiskText() + "/" + model.lastCleanText() + (model.loginOn() ? "/on" : "");
    }
    QStringList seen;
    QMetaObject::Connection watch =
        QObject::connect(&model, &UIModel::objectWillChange, [this] { seen << state(); });

    void scanToTheEnd() {
        scanner.startScan();
        scanner.waitForIdle();
        QTRY_VERIFY_WITH_TIMEOUT(!model.scanning(), 30'000);
    }
};

// "watch watch clean": what made each record after the first.
QString kinds(const QVector<HistoryRecord>& records) {
    QStringList made;
    for (const HistoryRecord& record : records.mid(1)) made << historyKindName(record.kind);
    return made.join(' ');
}

}  // namespace

class TestCleanRun : public QObject {
    Q_OBJECT

  private slots:
    // A row holds at least 1,000,000 bytes over all its folders; rows keep catalogue order; a
    // row's tick carries over to the next scan, and a new row comes ticked.
    void scanRowsInCatalogueOrderWithTheirTicks() {
        World w;
        writeFile(w.at("slack/Cache/x"), 1'000'000);
        writeFile(w.at("safari/Cache/x"), 999'999);
        writeFile(w.at("chrome/Cache/x"), 600'000);
        writeFile(w.at("chrome/Default/Code Cache/x"), 400'000);
        w.scanToTheEnd();
        QCOMPARE(w.state(), QString("Slack:1000000+,Google Chrome:1000000+,/0/0//never"));
        w.model.setRowSelected(0, false);
        writeFile(w.at("safari/Locked Cache/y"), 1);
        w.scanToTheEnd();
        QCOMPARE(w.state(),
                 QString("Slack:1000000-,Google Chrome:1000000+,Safari:1000000+,/0/0//never"));

        // A restart: nothing in the model, the ticks of the rows the panel showed are kept.
        // Spotify, never shown, comes unticked as it is told; ticked in the panel, it stays so.
        keepTicks(w.settings, w.model.rows(), {"slack", "chrome", "safari"});
        writeFile(w.at("spotify/Cache/x"), 1'000'000);
        for (const bool tickSpotify : {false, true}) {
            w.model.setRows({});
            w.scanToTheEnd();
            QCOMPARE(w.state(), QString("Slack:1000000-,Google Chrome:1000000+,Safari:1000000+,"
                                        "Spotify:1000000%1,/0/0//never")
                                    .arg(tickSpotify ? '+' : '-'));
            w.model.setRowSelected(3, true);
            keepTicks(w.settings, w.model.rows(), {"spotify"});
        }
    }

    // The watch's measuring thread runs at the lowest CPU and the idle I/O priority; the calling
    // thread keeps its own, as it could not raise them again.
    void idlePriorities() {
        const auto priorities = [] {
            return QString("%1 %2 %3")
                .arg(::sched_getscheduler(0))
                .arg(::getpriority(PRIO_PROCESS, ::syscall(SYS_gettid)))
                .arg(::syscall(SYS_ioprio_get, 1, 0) >> 13);
        };
        const QString before = priorities();
        QString during;
        runAtIdlePriority([&] { during = priorities(); });
        QCOMPARE(during + " / " + priorities(), QString("%1 19 3 / ").arg(SCHED_IDLE) + before);
    }

    // When a growth notice is due: at the threshold (0: never), or on a disk less than a tenth
    // free from 500 MB on; then at most one a day, and none within 10% of the last notice's total
    // until a week has passed. Its text names the three largest ticked rows.
    void growthNoticeRules() {
        constexpr qint64 kGB = 1'000'000'000, kMB = 1'000'000;
        const QDateTime now = QDateTime::currentDateTime();
        const struct {
            const char* what;
            qint64 ticked, freePercent, threshold, last = 0;  // last: 0 for no notice yet
            int hoursAgo = 0;
            bool due;
        } rows[] = {
            {"at the threshold", 5 * kGB, 50, 5 * kGB, 0, 0, true},
            {"just under it", 5 * kGB - 1, 50, 5 * kGB, 0, 0, false},
            {"threshold 0: never", 9 * kGB, 50, 0, 0, 0, false},
            {"disk under a tenth free, 500 MB", 500 * kMB, 9, 5 * kGB, 0, 0, true},
            {"disk under a tenth free, less", 500 * kMB - 1, 9, 5 * kGB, 0, 0, false},
            {"disk a tenth free", 500 * kMB, 10, 5 * kGB, 0, 0, false},
            {"a notice 23 hours ago", 9 * kGB, 50, 5 * kGB, 5 * kGB, 23, false},
            {"a notice a day ago", 9 * kGB, 50, 5 * kGB, 5 * kGB, 24, true},
            {"within 10% for 160 hours", 55 * kGB / 10, 50, 5 * kGB, 5 * kGB, 160, false},
            {"low disk, within 10%", 45 * kGB / 10, 9, 5 * kGB, 5 * kGB, 160, false},
            {"over 10% more", 56 * kGB / 10, 50, 5 * kGB, 5 * kGB, 24, true},
            {"within 10% for a week", 5 * kGB, 50, 5 * kGB, 5 * kGB, 168, true},
        };
        for (const auto& row : rows) {
            const NoticeHistory history{
                row.last ? std::optional(row.last) : std::nullopt,
                row.last ? std::optional(now.addSecs(-3600 * row.hoursAgo)) : std::nullopt};
            QVERIFY2(growthNoticeDue(row.ticked, row.freePercent, 100, row.threshold, history,
                                     now) == row.due,
                     row.what);
        }
        const Notice notice = growthNotice(
            {CacheRow{"yarn", "Yarn", 900 * kMB, true}, CacheRow{"slack", "Slack", 400 * kMB, true},
             CacheRow{"google-chrome", "Google Chrome", 2 * kGB, true},
             CacheRow{"discord", "Discord", 8 * kGB, false},
             CacheRow{"steam-shader-caches", "Steam shader caches", 3'100 * kMB, true}});
        QCOMPARE(notice.title + "|" + notice.body,
                 QString("6.40 GB of caches could be cleaned|Steam shader caches 3.10 GB, Google "
                         "Chrome 2.00 GB, Yarn 900 MB"));
    }

    // Only the second scan's row, its final list and its lowering of `scanning` arrive; the
    // first one's [Slack, Chrome] and its own lowering never do.
    void aSupersededScanPublishesNothing() {
        World w;
        for (const char* f : {"slack/Cache/x", "chrome/Cache/x"}) writeFile(w.at(f), 1'000'000);
        w.scanner.startScan();
        w.scanner.waitForIdle();  // the first scan's publications wait in the event queue
        removeTree(w.at("chrome"));
        w.scanner.startScan();
        const qsizetype second = w.seen.size();
        w.scanner.waitForIdle();
        QTRY_VERIFY_WITH_TIMEOUT(!w.model.scanning(), 30'000);
        QCOMPARE(w.seen.mid(second) << w.state(),
                 QStringList({"/1/0//never", "Slack:1000000+,/1/0//never",
                              "Slack:1000000+,/1/0//never", "Slack:1000000+,/0/0//never"}));
    }

    // A watch turn on mains with the panel closed measures quietly, then runs the scheduled clean
    // when one is due (not in the first 10 minutes; only rows seen in the panel; an application
    // that runs, or a tool whose daemon works in its folder, is skipped, never closed; nothing
    // counted for the ping), or else sends the growth notice. On battery, with the panel open or
    // the watch off, it does nothing; once the panel has opened while it measured, it only
    // measures.
    void watchTurns() {
        const QDateTime start = QDateTime::currentDateTime();  // a clean stores the real time
        struct Outcome {
            int scans = 0, rows = 0;  // the rows then
            bool slackGone = false;
            QString notices = {}, log = {}, history = {};  // notices with their actions; records
        };
        const Outcome grew{.scans = 2, .rows = 4,
                           .notices = "5 MB of caches could be cleaned: Slack 2 MB, Google Chrome "
                                      "1 MB, Safari 1 MB\nGrew most: Slack +1 MB → panel",
                           .history = "watch watch"};
        const Outcome cleaned{
            .scans = 2, .rows = 3, .slackGone = true,
            .notices = "Sweepkin freed 2 MB: Cleaned: Slack 2 MB\nSkipped: Google Chrome — running, "
                       "Gradle — in use → report",
            .log = " Cleaned 1 target(s), freed 2 MB (automatic; skipped Google Chrome — running). "
                   "Gradle — in use, skipped.\n",
            .history = "watch clean scan"};
        const struct {
            int minutes, autoCleanDays, lastCleanDaysAgo;  // -1: never cleaned
            QString off;  // "battery", "panel open", "panel opens" (while it measures), "watch off"
            Outcome outcome;
        } cases[] = {
            {10, 7, -1, "", cleaned},   {11, 7, 7, "", cleaned}, {11, 7, 6, "", grew},
            {9, 7, -1, "", grew},       {11, 0, -1, "", grew},   {11, 7, -1, "battery", {.scans = 2}},
            {11, 7, -1, "panel open", {}}, {11, 7, -1, "watch off", {}},
            {11, 7, -1, "panel opens", {.scans = 1, .rows = 4, .history = "watch"}},
        };
        for (const auto& c : cases) {
            World w;
            writeFile(w.at("slack/Cache/x"), 2'000'000);
            writeFile(w.at("chrome/Cache/x"), 1'200'000);
            writeFile(w.at("safari/Cache/x"), 1'000'000);
            writeFile(w.at("gradle/caches/x"), 1'000'000);
            QProcess chrome, daemon;  // known by the folder each works in
            QVERIFY(w.startHolder(chrome, "chrome") && w.startHolder(daemon, "gradle/daemon/8.5"));
            w.settings.setStringList(keys::seenRows, {"chrome", "slack", "gradle"});
            w.settings.setStringList(keys::untickedRows, {});
            w.settings.setInt(keys::notifyBytes, 4'000'000);
            w.settings.setInt(keys::autoCleanDays, c.autoCleanDays);
            w.settings.setBool(keys::disableWatch, c.off == "watch off");
            QDateTime clock = start;
            const QDateTime measuredAt = start.addSecs(60 * c.minutes);
            w.now = measuredAt;
            w.history.add({measuredAt.addDays(-1),
                           HistoryKind::Watch,
                           {{"slack", 1'000'000},
                            {"chrome", 1'200'000},
                            {"safari", 1'000'000},
                            {"gradle", 1'000'000}},
                           {}});
            if (c.lastCleanDaysAgo >= 0)
                w.settings.setDate(keys::lastClean, measuredAt.addDays(-c.lastCleanDaysAgo));
            QString picked;
            std::atomic<bool> asked = false;
            testing::PickingNotices notices;
            Watch watch(WatchContext{
                            w.model, w.scanner, *w.run, w.settings, notices,
                            [&clock] { return clock; },
                            [&c, &asked] {  // on the queue: the turn's first measurement holds it
                                while (!asked) std::this_thread::yield();
                                return c.off == "battery";
                            },
                            [&c, asked = 0]() mutable {
                                return c.off == "panel open" || (c.off == "panel opens" && asked++);
                            },
                            [&] { picked += " → panel"; }, [&] { picked += " → report"; },
                            [] { return DiskSpace{}; },
                            [&w](const std::optional<QDateTime>& last) {
                                return grewMostLine(w.history.readNow(), last, w.targets);
                            }},
                        std::chrono::minutes(10), std::chrono::hours(6));
            clock = measuredAt;
            for (int turn = 0; turn < 2; ++turn) {  // the second turn: no more on the same day
                asked = false;
                watch.measure(), watch.measure();  // the second finds the first in flight
                asked = true;
                w.scanner.waitForIdle();
                QCoreApplication::sendPostedEvents();
                w.run->waitForBody();
                QCoreApplication::sendPostedEvents();
            }
            w.log.waitForIdle();
            const std::string log = exists(w.at("state/Sweepkin.log"))
                                        ? readText(w.at("state/Sweepkin.log")).substr(21)
                                        : "";
            const testing::CaseTrace trace{QString("%1 minutes in, cleaning every %2 days, last %3 "
                                                   "days ago, %4")
                                               .arg(c.minutes).arg(c.autoCleanDays)
                                               .arg(c.lastCleanDaysAgo).arg(c.off)};
            QCOMPARE(w.scanner.scanGeneration(), c.outcome.scans);
            QCOMPARE(w.model.rows().size(), c.outcome.rows);
            QCOMPARE(!exists(w.at("slack/Cache")), c.outcome.slackGone);
            QCOMPARE(notices.sent.join(" / ") + picked, c.outcome.notices);
            QCOMPARE(QString::fromStdString(log), c.outcome.log);
            QCOMPARE(kinds(w.history.readNow()), c.outcome.history);
            QVERIFY(testing::stillRunning(&chrome) && exists(w.at("chrome/Cache/x")));
            QVERIFY(testing::stillRunning(&daemon) && exists(w.at("gradle/caches/x")));
            QCOMPARE(w.settings.intValue(keys::ctCleans), 0);
            chrome.terminate(), chrome.waitForFinished();
            daemon.terminate(), daemon.waitForFinished();
        }
    }

    // The first turn comes after the first delay, the next only after the interval.
    void watchTiming() {
        World w;
        testing::PickingNotices notices;
        Watch watch(WatchContext{w.model, w.scanner, *w.run, w.settings, notices,
                                 [] { return QDateTime::currentDateTime(); }, [] { return false; },
                                 [] { return false; }},
                    std::chrono::milliseconds(10), std::chrono::hours(1));
        watch.start();
        QTRY_COMPARE_WITH_TIMEOUT(w.scanner.scanGeneration(), 1, 30'000);
        QTest::qWait(300);
        QCOMPARE(w.scanner.scanGeneration(), 1);
    }

    void confirmationTexts() {
        const QString fixed =
            "Only cache folders are deleted — apps simply rebuild them. Your logins, history, "
            "bookmarks and settings are never touched.";
        Alert alert = confirmationAlert(1, 1'230'000'000, {});
        QCOMPARE(alert.message, QString("Clean 1 selected cache (1.23 GB)?"));
        QCOMPARE(alert.informative, fixed);
        QVERIFY(alert.warning);
        QCOMPARE(alert.buttons, QStringList({"Clean", "Cancel"}));
        alert = confirmationAlert(3, 740'000'000, {"Google Chrome", "Slack"});
        QCOMPARE(alert.message, QString("Clean 3 selected caches (740 MB)?"));
        QCOMPARE(alert.informative,
                 fixed + "\n\nThese apps are open and will be closed first: Google Chrome, Slack.");
        QCOMPARE(confirmationAlert(2, 0, {}, {"Gradle", "Bazel"}).informative,
                 fixed + "\n\nGradle — in use, skipped\nBazel — in use, skipped");
    }

    void cleanReportsWhatStayedAndWhy() {
        World w;
        // Safari: one removable folder, one holding a file in a folder others may change.
        for (const auto& [file, size] : {std::pair{"chrome/Cache/data_0", 2'000'000},
                                         {"chrome/Default/Cookies", 4096},
                                         {"slack/Cache/blob", 2'000'000},
                                         {"spotify/Cache/unticked", 3'000'000},
                                         {"safari/Cache/x", 1'000'000},
                                         {"safari/Locked Cache/stuck/f", 1'200'000},
                                         {"gradle/caches/x", 1'000'000}})
            writeFile(w.at(file), size);
        QCOMPARE(::chmod(w.at("safari/Locked Cache/stuck").c_str(), 0777), 0);
        // Chrome known by its executable, Code by the folder it works in; a tool's daemon too.
        QProcess chrome, code, daemon;
        QVERIFY(testing::startApp(chrome, QString::fromStdString(w.at(w.appName))));
        QVERIFY(w.startHolder(code, "code") && w.startHolder(daemon, "gradle/daemon/8.5"));

        // Ticked in an order unlike the catalogue's; Spotify unticked; Code not measured.
        w.model.setRows({CacheRow{"code", "Visual Studio Code", std::nullopt, true},
                         CacheRow{"safari", "Safari", 2'200'000, true},
                         CacheRow{"spotify", "Spotify", 3'000'000, false},
                         CacheRow{"slack", "Slack", 2'000'000, true},
                         CacheRow{"chrome", "Google Chrome", 2'000'000, true},
                         CacheRow{"gradle", "Gradle", 1'000'000, true}});
        w.desktop.answers = {0, 1};  // "Clean"; the completion dialog's second button
        w.run->cleanSelected();
        QVERIFY(w.model.cleaning());
        QCOMPARE(w.settings.intValue(keys::ctCleans), 1);
        QCOMPARE(w.desktop.alerts.value(0).message, QString("Clean 5 selected caches (7 MB)?"));
        QVERIFY(w.desktop.alerts.value(0).informative.endsWith(
            "These apps are open and will be closed first: Google Chrome, Visual Studio "
            "Code.\n\nGradle — in use, skipped"));
        w.run->waitForBody();
        QVERIFY(exists(w.at("state/report.md")));  // written by the body, before the finish
        QTRY_COMPARE_WITH_TIMEOUT(w.desktop.alerts.size(), 2, 60'000);
        w.log.waitForIdle();
        QVERIFY(!w.model.cleaning() && testing::quitNormally(&chrome) &&
                testing::quitNormally(&code) && testing::stillRunning(&daemon));
        daemon.terminate(), daemon.waitForFinished();
        const std::string report = readText(w.at("state/report.md"));
        const std::string stayed = "~/safari/Locked Cache (other users may change a folder inside)";
        QVERIFY2(report.find("- Slack: cleared 2 MB\n- Google Chrome: cleared 2 MB\n- Safari: "
                             "partly cleared 1 MB — could not remove " +
                             stayed +
                             "\n- Visual Studio Code: cleared 0 B\n- Gradle — in use, "
                             "skipped\n\n**Total cleared:** 5 MB\n") != report.npos,
                 report.c_str());
        QCOMPARE(readText(w.at("state/Sweepkin.log")).substr(21),
                 " Cleaned 4 target(s), freed 5 MB. Gradle — in use, skipped. Could not remove " +
                     stayed + ".\n");
        QCOMPARE(w.model.lastCleanText(), w.settings.dateValue(keys::lastClean)
                                              .value_or(QDateTime())
                                              .toString("yyyy-MM-dd HH:mm:ss"));
        QCOMPARE(w.desktop.alerts.value(1).message, QString("Done — cleared 5 MB"));
        QCOMPARE(w.desktop.alerts.value(1).buttons.size(), 2);
        QVERIFY(w.desktop.openedUrls.value(0).path().endsWith("/cache-removal-help.html"));
        QVERIFY(!exists(w.at("chrome/Cache")) && exists(w.at("chrome/Default/Cookies")));
        // The rescan lists what is left: the unticked Spotify and Gradle, in use (Safari's stuck
        // file lies where others may change it: it counts nothing).
        w.scanner.waitForIdle();
        QTRY_VERIFY_WITH_TIMEOUT(!w.model.scanning(), 30'000);
        QCOMPARE(w.model.rows(),
                 QVector<CacheRow>({CacheRow{"spotify", "Spotify", 3'000'000, false},
                                    CacheRow{"gradle", "Gradle", 1'000'000, true}}));
    }

    // After a failure the dialog names what stayed and why; its second button, offered only
    // then, opens the help page.
    void completionDialog() {
        for (const auto& [failed, answer] : {std::pair{false, 1}, {true, 0}, {true, 1}}) {
            ScriptedDesktop desktop;
            desktop.answers = {answer};
            showCompletionDialog(desktop, 0, 12'345'000'000, 11'000'000'000, failed,
                                 "~/.cache/spotify (in use)");
            const Alert& alert = desktop.alerts.value(0);
            QCOMPARE(alert.message, QString("Done — cleared 0 B"));
            QCOMPARE(alert.informative,
                     "Free disk space: 12.35 GB  (was 11.00 GB)." +
                         QString(failed ? "\n\nCould not remove ~/.cache/spotify (in use). Quit "
                                          "the application and try again; the help explains the "
                                          "other causes."
                                        : ""));
            QCOMPARE(alert.buttons, (failed ? QStringList{"OK", "Show Help"} : QStringList{"OK"}));
            QVERIFY(!alert.warning && desktop.alerts.size() == 1);
            QCOMPARE(desktop.openedUrls.size(), int(failed && answer == 1));
        }
    }

    void lastReportOpensOrIsExplained() {
        const ScratchDir dir;
        ScriptedDesktop desktop;
        showLastReport(desktop, dir / "report.md");
        writeText(dir / "report.md", "# report\n");
        showLastReport(desktop, dir / "report.md");
        QCOMPARE(desktop.panelCloses, 2);
        QCOMPARE(desktop.openedUrls,
                 QList{QUrl::fromLocalFile(QString::fromStdString(dir / "report.md"))});
        const Alert& none = desktop.alerts.value(0);
        QCOMPARE(desktop.alerts.size() + none.buttons.size(), 1);
        QCOMPARE(
            none.message + "|" + none.informative,
            QString("No cleanup report yet|A report will appear here after you run a cleanup."));
    }
};

QTEST_GUILESS_MAIN(TestCleanRun)
#include "test_clean_run.moc"
