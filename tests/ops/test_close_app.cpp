// Closing applications with stand-in processes: which ones are listed and asked to quit, and how
// often closeApp checks (counted through the injected sleeper, never by the clock).

#include <fcntl.h>
#include <sys/stat.h>

#include <QSignalSpy>
#include <QTest>
#include <thread>

#include "engine/proc_running_apps.h"
#include "tests/ops/fakes.h"
#include "tests/support/tree.h"

using namespace sweepkin;
using namespace sweepkin::testing;

namespace {

// An executable name of this process's own: suites running side by side never meet.
const std::string kName = "fakechrome-" + std::to_string(::getpid());
const std::string kFake = "test.sweepkin.fakechrome";
const ExecutableNames kFakeNames{{kFake, {kName}}};

bool has(const std::vector<AppInstance>& listed, QProcess* p) {
    return std::any_of(listed.begin(), listed.end(),
                       [p](auto& i) { return i.pid == p->processId(); });
}

// closeApp on the real registry, recording how often it listed and slept and whom it asked.
struct Closing : RunningApps {
    ProcRunningApps real{kFakeNames};
    int listings = 0, sleeps = 0;
    std::vector<AppInstance> asked;

    Closing() {
        closeApp(kFake, *this, [this](std::chrono::milliseconds interval) {
            QCOMPARE(interval, std::chrono::milliseconds(500));
            ++sleeps;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        });
    }
    std::vector<AppInstance> instances(const std::string& id) override {
        return ++listings, real.instances(id);
    }
    void requestQuit(const AppInstance& instance) override {
        asked.push_back(instance);
        real.requestQuit(instance);
    }
};

}  // namespace

class TestCloseApp : public QObject {
    Q_OBJECT
    fixtures::ScratchDir dir_;
    std::vector<std::unique_ptr<QProcess>> processes_;

    QProcess* launch(const std::string& name = kName, const QString& mode = "quit",
                     const QString& extra = "app", bool asNobody = false) {
        processes_.push_back(std::make_unique<QProcess>());
        const QString path = QString::fromStdString(dir_ / name);
        return startApp(*processes_.back(), path, mode, extra, asNobody) ? processes_.back().get()
                                                                         : nullptr;
    }

  private slots:
    void initTestCase() { QCOMPARE(::chmod(dir_.path().c_str(), 0755), 0); }  // nobody's too
    void cleanup() {
        for (auto& p : processes_) p->kill(), p->waitForFinished(5000);
        processes_.clear();
    }

    void closeApp_data() {
        // Per process: q asked and quit, s asked but running on, u never asked (all others quit).
        QTest::addColumn<QStringList>("processes");
        QTest::addColumn<QList<int>>("sleeps");  // least and most
        QTest::newRow("not running") << QStringList() << QList{0, 0};
        QTest::newRow("ignores the request") << QStringList{"s ignore"} << QList{10, 10};
        QTest::newRow("two, one slow") << QStringList{"q quit", "q slow"} << QList{1, 9};
        QTest::newRow("helper process") << QStringList{"q quit", "u helper"} << QList{0, 9};
        QTest::newRow("another user's") << QStringList{"u nobody"} << QList{0, 0};
    }

    void closeApp() {
        QFETCH(QStringList, processes);
        QFETCH(QList<int>, sleeps);
        std::vector<QProcess*> started;
        for (const QString& p : processes) {
            const QString mode = p.mid(2);
            if (mode == "nobody" && ::geteuid() != 0) QSKIP("another user's process needs root");
            started.push_back(launch(kName, p[0] == 'u' ? "quit" : mode,
                                     mode == "helper" ? "--type=gpu" : "app", mode == "nobody"));
            QVERIFY(started.back());
        }
        Closing c;
        QVERIFY(c.sleeps >= sleeps[0] && c.sleeps <= sleeps[1]);
        // The quit round, a check before each sleep, and a last one unless all ten sleeps ran out.
        QCOMPARE(c.listings, std::min(c.sleeps + 2, 11));
        for (std::size_t i = 0; i < started.size(); ++i) {
            QCOMPARE(has(c.asked, started[i]), processes[i][0] != 'u');
            QVERIFY(processes[i][0] == 'q' ? quitNormally(started[i]) : stillRunning(started[i]));
        }
    }

    // A replaced executable reads "name (deleted)" in /proc and still belongs to its application.
    void replacedExecutableStillMatches() {
        QProcess* app = launch();
        QVERIFY(app && QFile::remove(QString::fromStdString(dir_ / kName)));
        QVERIFY(has(ProcRunningApps(kFakeNames).instances(kFake), app));
    }

    // "claude" is also a terminal program; only the desktop app's executable belongs to Claude.
    void terminalProgramNamedClaudeIsNeverListed() {
        QProcess* terminal = launch("claude");
        QProcess* desktop = launch("claude-desktop");
        QVERIFY(terminal && desktop);
        ProcRunningApps apps;
        const auto found = apps.instances("com.anthropic.claudefordesktop");
        for (const AppInstance& instance : found) apps.requestQuit(instance);
        QVERIFY(has(found, desktop) && !has(found, terminal));
        QVERIFY(quitNormally(desktop) && stillRunning(terminal));
    }

    // Only a record the registry handed out is signalled. Its descriptor is opened afresh when
    // someone else closed it, and closed once the process has gone.
    void registryRecordsFollowTheProcess() {
        QProcess* app = launch();
        ProcRunningApps apps(kFakeNames);
        QVERIFY(app && apps.instances(kFake).size() == 1);
        apps.requestQuit(AppInstance{int(app->processId()), 0});
        QVERIFY(stillRunning(app));
        ::close(apps.instances(kFake)[0].pidfd);
        const auto again = apps.instances(kFake);
        QCOMPARE(again.size(), size_t(1));
        apps.requestQuit(again[0]);
        QVERIFY(quitNormally(app) && apps.instances(kFake).empty());
        QCOMPARE(::fcntl(again[0].pidfd, F_GETFD), -1);
    }
};

QTEST_GUILESS_MAIN(TestCloseApp)
#include "test_close_app.moc"
