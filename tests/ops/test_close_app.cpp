// Closing applications with real helper processes: which processes are asked to quit, and how
// long closeApp keeps checking (counted through the injected sleeper, never by the clock).

#include <signal.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>
#include <thread>

#include "engine/proc_running_apps.h"

using namespace sweepkin;

namespace {

// Executable names of their own, so suites running side by side never see each other's helpers.
const std::string kFakeChrome = "test.sweepkin.fakechrome";

// Forwards to the real registry and remembers what was asked of it.
class ObservedApps : public RunningApps {
  public:
    explicit ObservedApps(RunningApps& real) : real_(real) {}
    std::vector<AppInstance> instances(const std::string& bundleID) override {
        ++listings;
        auto found = real_.instances(bundleID);
        for (const auto& i : found) listed.push_back(i.pid);
        return found;
    }
    void requestQuit(const AppInstance& instance) override {
        quitRequests.push_back(instance.pid);
        real_.requestQuit(instance);
    }
    int listings = 0;
    std::vector<int> listed;
    std::vector<int> quitRequests;

  private:
    RunningApps& real_;
};

struct Sleeps {
    int count = 0;
    std::chrono::milliseconds realPause;
    Sleeper sleeper() {
        return [this](std::chrono::milliseconds interval) {
            QCOMPARE(interval, std::chrono::milliseconds(500));
            ++count;
            std::this_thread::sleep_for(realPause);
        };
    }
};

bool contains(const std::vector<int>& v, qint64 pid) {
    return std::find(v.begin(), v.end(), int(pid)) != v.end();
}

}  // namespace

class TestCloseApp : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString fakeChrome_;
    std::vector<std::unique_ptr<QProcess>> processes_;

    QProcess* launch(const QString& program, const QStringList& args) {
        auto p = std::make_unique<QProcess>();
        p->start(program, args);
        if (!p->waitForStarted(10'000) || !p->waitForReadyRead(10'000)) return nullptr;
        processes_.push_back(std::move(p));
        return processes_.back().get();
    }

    QProcess* fake(const char* mode, const QStringList& extra = {}) {
        return launch(fakeChrome_, QStringList{QLatin1String(mode)} + extra);
    }

    static bool stillRunning(QProcess* p) { return !p->waitForFinished(300); }
    static bool gone(QProcess* p) {
        return p->state() == QProcess::NotRunning || p->waitForFinished(2000);
    }

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        fakeChrome_ = dir_.filePath("fakechrome-closeapp");
        QVERIFY(QFile::copy(QStringLiteral(QUIT_HELPER_PATH), fakeChrome_));
        QVERIFY(QFile::setPermissions(fakeChrome_, QFile::ReadOwner | QFile::WriteOwner |
                                                       QFile::ExeOwner | QFile::ReadOther |
                                                       QFile::ExeOther));
        QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                               QFile::ReadOther | QFile::ExeOther);
    }

    void cleanup() {
        for (auto& p : processes_) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
        processes_.clear();
    }

    void notRunningReturnsAfterOneCheck() {
        ProcRunningApps real(ExecutableNames{{kFakeChrome, {"fakechrome-closeapp"}}});
        ObservedApps apps(real);
        Sleeps sleeps{0, std::chrono::milliseconds(0)};
        closeApp(kFakeChrome, apps, sleeps.sleeper());
        QCOMPARE(apps.listings, 2);  // the quit round and one check
        QCOMPARE(sleeps.count, 0);
        QVERIFY(apps.quitRequests.empty());
    }

    void unknownIdentifierAndSafariMatchNothing() {
        ProcRunningApps apps;
        QVERIFY(apps.instances("com.example.unknown").empty());
        QVERIFY(apps.instances("com.apple.Safari").empty());
    }

    void quitsOnRequest() {
        QProcess* app = fake("quit");
        QVERIFY(app);
        ProcRunningApps real(ExecutableNames{{kFakeChrome, {"fakechrome-closeapp"}}});
        ObservedApps apps(real);
        Sleeps sleeps{0, std::chrono::milliseconds(500)};
        closeApp(kFakeChrome, apps, sleeps.sleeper());
        QVERIFY(contains(apps.quitRequests, app->processId()));
        QVERIFY(gone(app));
        QCOMPARE(app->exitStatus(), QProcess::NormalExit);  // a handled SIGTERM, not a kill
        QVERIFY(sleeps.count < 10);
    }

    void ignoredRequestWaitsTenChecks() {
        QProcess* app = fake("ignore");
        QVERIFY(app);
        ProcRunningApps real(ExecutableNames{{kFakeChrome, {"fakechrome-closeapp"}}});
        ObservedApps apps(real);
        Sleeps sleeps{0, std::chrono::milliseconds(5)};
        closeApp(kFakeChrome, apps, sleeps.sleeper());
        QCOMPARE(sleeps.count, 10);
        QCOMPARE(apps.listings, 11);  // the quit round and ten checks, none after the last sleep
        QVERIFY(contains(apps.quitRequests, app->processId()));
        QVERIFY(stillRunning(app));  // never killed
    }

    void slowQuitEndsTheWaitEarly() {
        QProcess* app = fake("slow");
        QVERIFY(app);
        ProcRunningApps real(ExecutableNames{{kFakeChrome, {"fakechrome-closeapp"}}});
        ObservedApps apps(real);
        Sleeps sleeps{0, std::chrono::milliseconds(500)};
        closeApp(kFakeChrome, apps, sleeps.sleeper());
        QVERIFY(sleeps.count >= 1);
        QVERIFY(sleeps.count < 10);
        QVERIFY(gone(app));
    }

    void everyInstanceIsAskedAndAwaited() {
        QProcess* first = fake("quit");
        QProcess* second = fake("slow");
        QVERIFY(first && second);
        ProcRunningApps real(ExecutableNames{{kFakeChrome, {"fakechrome-closeapp"}}});
        ObservedApps apps(real);
        Sleeps sleeps{0, std::chrono::milliseconds(500)};
        closeApp(kFakeChrome, apps, sleeps.sleeper());
        QVERIFY(contains(apps.quitRequests, first->processId()));
        QVERIFY(contains(apps.quitRequests, second->processId()));
        QVERIFY(sleeps.count >= 1);  // the slow one was still there at the first check
        QVERIFY(gone(first));
        QVERIFY(gone(second));
    }

    void helperProcessesAreLeftToTheirMainProcess() {
        QProcess* main = fake("quit");
        QProcess* helper = fake("quit", {QStringLiteral("--type=renderer")});
        QVERIFY(main && helper);
        ProcRunningApps real(ExecutableNames{{kFakeChrome, {"fakechrome-closeapp"}}});
        ObservedApps apps(real);
        Sleeps sleeps{0, std::chrono::milliseconds(100)};
        closeApp(kFakeChrome, apps, sleeps.sleeper());
        QVERIFY(!contains(apps.listed, helper->processId()));
        QVERIFY(!contains(apps.quitRequests, helper->processId()));
        QVERIFY(gone(main));
        QVERIFY(stillRunning(helper));
    }

    void replacedExecutableStillMatches() {
        const QString path = dir_.filePath("fakeslack");
        QVERIFY(QFile::copy(fakeChrome_, path));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
        QProcess* app = launch(path, {QStringLiteral("quit")});
        QVERIFY(app);
        QVERIFY(QFile::remove(path));  // /proc/PID/exe now ends in " (deleted)"
        ProcRunningApps apps(ExecutableNames{{"test.sweepkin.fakeslack", {"fakeslack"}}});
        const auto found = apps.instances("test.sweepkin.fakeslack");
        QCOMPARE(found.size(), size_t(1));
        QCOMPARE(found[0].pid, int(app->processId()));
        QVERIFY(found[0].pidfd >= 0);
    }

    void otherUsersProcessesAreNeverListed() {
        if (::geteuid() != 0) QSKIP("starting another user's process needs root");
        QProcess* foreign =
            launch(QStringLiteral("setpriv"),
                   {"--reuid=65534", "--regid=65534", "--clear-groups", fakeChrome_, "quit"});
        QVERIFY(foreign);
        ProcRunningApps real(ExecutableNames{{kFakeChrome, {"fakechrome-closeapp"}}});
        ObservedApps apps(real);
        Sleeps sleeps{0, std::chrono::milliseconds(0)};
        closeApp(kFakeChrome, apps, sleeps.sleeper());
        QVERIFY(!contains(apps.listed, foreign->processId()));
        QVERIFY(stillRunning(foreign));
    }

    void foreignInstanceRecordIsNotSignalled() {
        QProcess* app = fake("quit");
        QVERIFY(app);
        ProcRunningApps apps(ExecutableNames{{kFakeChrome, {"fakechrome-closeapp"}}});
        // A record this registry never handed out (a pid with a made-up descriptor).
        apps.requestQuit(AppInstance{int(app->processId()), 0});
        QVERIFY(stillRunning(app));
    }
};

QTEST_GUILESS_MAIN(TestCloseApp)
#include "test_close_app.moc"
