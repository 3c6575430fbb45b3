// Closing applications with real helper processes: which processes are asked to quit, and how
// long closeApp keeps checking (counted through the injected sleeper, never by the clock).

#include <algorithm>

#include "engine/proc_running_apps.h"
#include "tests/ops/tree.h"

using namespace sweepkin;

namespace {

// An executable name of its own, so suites running side by side never see each other's helpers.
const std::string kFakeChrome = "test.sweepkin.fakechrome";

ExecutableNames fakeChromeNames() {
    return ExecutableNames{{kFakeChrome, {"fakechrome-closeapp"}}};
}

// Runs closeApp on the real registry, recording what was listed and asked to quit and how
// often it slept (each sleep really pausing for `pauseMs`).
struct Closing : RunningApps {
    ProcRunningApps real{fakeChromeNames()};
    int listings = 0, sleeps = 0;
    std::vector<int> listed, quitRequests;

    explicit Closing(int pauseMs) {
        closeApp(kFakeChrome, *this, [this, pauseMs](std::chrono::milliseconds interval) {
            QCOMPARE(interval, std::chrono::milliseconds(500));
            ++sleeps;
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        });
    }
    std::vector<AppInstance> instances(const std::string& bundleID) override {
        ++listings;
        auto found = real.instances(bundleID);
        for (const auto& i : found) listed.push_back(i.pid);
        return found;
    }
    void requestQuit(const AppInstance& instance) override {
        quitRequests.push_back(instance.pid);
        real.requestQuit(instance);
    }
    bool asked(QProcess* p) const { return has(quitRequests, p); }
    bool saw(QProcess* p) const { return has(listed, p); }
    static bool has(const std::vector<int>& v, QProcess* p) {
        return std::find(v.begin(), v.end(), int(p->processId())) != v.end();
    }
};

bool stillRunning(QProcess* p) {
    return !p->waitForFinished(300);
}
bool gone(QProcess* p) {
    return p->state() == QProcess::NotRunning || p->waitForFinished(2000);
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

  private slots:
    void initTestCase() {
        fakeChrome_ = dir_.filePath("fakechrome-closeapp");
        QVERIFY(QFile::copy(QStringLiteral(QUIT_HELPER_PATH), fakeChrome_));
        // Readable and runnable by nobody too, for the other-user case.
        const auto mode = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(fakeChrome_, mode | QFile::WriteOwner));
        QFile::setPermissions(dir_.path(), mode | QFile::WriteOwner);
    }

    void cleanup() {
        for (auto& p : processes_) {
            p->kill();
            p->waitForFinished(5000);
        }
        processes_.clear();
    }

    void notRunningReturnsAfterOneCheck() {
        Closing c(0);
        QCOMPARE(c.listings, 2);  // the quit round and one check
        QCOMPARE(c.sleeps, 0);
        QVERIFY(c.quitRequests.empty());
    }

    void unknownIdentifierAndSafariMatchNothing() {
        ProcRunningApps apps;
        QVERIFY(apps.instances("com.example.unknown").empty());
        QVERIFY(apps.instances("com.apple.Safari").empty());
    }

    void quitsOnRequest() {
        QProcess* app = fake("quit");
        QVERIFY(app);
        Closing c(500);
        QVERIFY(c.asked(app));
        QVERIFY(gone(app));
        QCOMPARE(app->exitStatus(), QProcess::NormalExit);  // a handled SIGTERM, not a kill
        QVERIFY(c.sleeps < 10);
    }

    void ignoredRequestWaitsTenChecks() {
        QProcess* app = fake("ignore");
        QVERIFY(app);
        Closing c(5);
        QCOMPARE(c.sleeps, 10);
        QCOMPARE(c.listings, 11);  // the quit round and ten checks, none after the last sleep
        QVERIFY(c.asked(app));
        QVERIFY(stillRunning(app));  // never killed
    }

    void everyInstanceIsAskedAndAwaitedAndSlowQuitEndsTheWaitEarly() {
        QProcess* first = fake("quit");
        QProcess* second = fake("slow");
        QVERIFY(first && second);
        Closing c(500);
        QVERIFY(c.asked(first) && c.asked(second));
        QVERIFY(c.sleeps >= 1);  // the slow one was still there at the first check
        QVERIFY(c.sleeps < 10);
        QVERIFY(gone(first) && gone(second));
    }

    void helperProcessesAreLeftToTheirMainProcess() {
        QProcess* main = fake("quit");
        QProcess* helper = fake("quit", {QStringLiteral("--type=renderer")});
        QVERIFY(main && helper);
        Closing c(100);
        QVERIFY(!c.saw(helper) && !c.asked(helper));
        QVERIFY(gone(main));
        QVERIFY(stillRunning(helper));
    }

    void replacedExecutableStillMatches() {
        const QString path = dir_.filePath("fakeslack");
        QVERIFY(QFile::copy(fakeChrome_, path));
        QProcess* app = launch(path, {QStringLiteral("quit")});
        QVERIFY(app);
        QVERIFY(QFile::remove(path));  // /proc/PID/exe now ends in " (deleted)"
        ProcRunningApps apps(ExecutableNames{{"test.sweepkin.fakeslack", {"fakeslack"}}});
        const auto found = apps.instances("test.sweepkin.fakeslack");
        QCOMPARE(found.size(), size_t(1));
        QCOMPARE(found[0].pid, int(app->processId()));
        QVERIFY(found[0].pidfd >= 0);
    }

    // "claude" is also a terminal program; only the desktop app's executable belongs to Claude.
    void terminalProgramNamedClaudeIsNeverListed() {
        QProcess* found[2] = {};
        int i = 0;
        for (const char* name : {"claude", "claude-desktop"}) {
            const QString path = dir_.filePath(QLatin1String(name));
            QVERIFY(QFile::exists(path) || QFile::copy(fakeChrome_, path));
            found[i++] = launch(path, {QStringLiteral("quit")});
        }
        QVERIFY(found[0] && found[1]);
        ProcRunningApps apps;
        std::vector<int> pids;
        for (const AppInstance& instance : apps.instances("com.anthropic.claudefordesktop")) {
            pids.push_back(instance.pid);
            apps.requestQuit(instance);
        }
        QVERIFY(Closing::has(pids, found[1]));
        QVERIFY(!Closing::has(pids, found[0]));
        QVERIFY(gone(found[1]));
        QVERIFY(stillRunning(found[0]));
    }

    void otherUsersProcessesAreNeverListed() {
        if (::geteuid() != 0) QSKIP("starting another user's process needs root");
        QProcess* foreign =
            launch(QStringLiteral("setpriv"),
                   {"--reuid=65534", "--regid=65534", "--clear-groups", fakeChrome_, "quit"});
        QVERIFY(foreign);
        Closing c(0);
        QVERIFY(!c.saw(foreign));
        QVERIFY(stillRunning(foreign));
    }

    void foreignInstanceRecordIsNotSignalled() {
        QProcess* app = fake("quit");
        QVERIFY(app);
        // A record this registry never handed out (a pid with a made-up descriptor).
        ProcRunningApps(fakeChromeNames()).requestQuit(AppInstance{int(app->processId()), 0});
        QVERIFY(stillRunning(app));
    }
};

QTEST_GUILESS_MAIN(TestCloseApp)
#include "test_close_app.moc"
