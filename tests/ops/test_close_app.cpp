// Closing applications with stand-in processes: which ones are listed and asked to quit, and how
// often closeApp checks (counted through the injected sleeper, never by the clock). Only this
// test's own processes are ever asked: a developer's browser may be running beside it.

#include <fcntl.h>
#include <sys/stat.h>

#include <QDir>
#include <QTest>
#include <filesystem>
#include <set>
#include <thread>

#include "engine/catalogue/catalogue.h"
#include "engine/fs/resolver.h"
#include "engine/procs/proc_running_apps.h"
#include "tests/ops/fakes.h"
#include "tests/support/tree.h"

using namespace sweepkin;
using namespace sweepkin::testing;

namespace {

// An executable name of this process's own: suites running side by side never meet.
const std::string kName = "fakechrome-" + std::to_string(::getpid());
const std::string kFake = "test.sweepkin.fakechrome";
const ProcessRules kFakeRules{{kFake, {.names = {kName}}}};

// Runs a stand-in the way Flatpak runs an application: in a root of its own (a tmpfs with /usr
// bound in) as /app/chrome, with a /.flatpak-info naming its app id. Arguments: root, helper, id.
const QString kSandboxed =
    R"(PATH=$PATH:/usr/sbin:/sbin && mount -t tmpfs tmpfs "$1" && cd "$1" && mkdir usr app && mount --rbind /usr usr &&
       ln -s usr/bin bin && ln -s usr/lib lib && ln -s usr/lib64 lib64 && cp "$2" app/chrome &&
       printf '[Application]\nname=%s\n' "$3" >.flatpak-info && exec chroot . /app/chrome quit app)";

// This test's own application: its rule also knows a sandbox's app id, its folders are in the
// scratch home's config and cache homes.
const std::string kFakeFlatpak = "test.sweepkin.FakeChrome";
const ProcessRules kSandboxRules{{kFake, {.names = {kName}, .flatpakIDs = {kFakeFlatpak}}}};
const AppTarget kFakeTarget{"fake", "Fake", kFake,
                            {{RootKind::ConfigHome, {}, "fakeapp", {"Cache", "GPUCache"}},
                             {RootKind::CacheHome, {}, "fakeapp", {""}}}};

// A stand-in process, and the application whose closing asks it to quit ("" for none).
struct StandIn {
    std::string spec;     // "path [argument]" below the scratch folder, or "flatpak:<app id>"
    std::string owner;    // the application whose closing asks it to quit; "" for none
    const char* cwd{};    // its working folder, below the scratch folder
    const char* opens{};  // a file below the scratch folder that it holds open
};
// A helper process runs the application's executable with arguments that say so. Where no rule
// looks, processes are told by what they hold: an AppImage (mounted below /tmp) with a file of a
// cache open, a tarball's executable working in its own folder, a main process whose helper
// child holds the cache. Not a helper holding a cache on its own, nor a shell in the cache home,
// which holds the application's folder.
const StandIn kFakeStandIns[] = {
    {kName, kFake},
    {kName + " --type=gpu-process", ""},
    {"flatpak:" + kFakeFlatpak, kFake},
    {"flatpak:test.sweepkin.Other", ""},
    {"tmp/.mount_FakeXb12/fake", kFake, {}, "h/.config/fakeapp/GPUCache/0"},
    {"h/Applications/Fake2/fake --spawn-helper", kFake, {}, "h/.config/fakeapp/GPUCache/2"},
    {"h/Applications/Fake/fake", kFake, "h/.config/fakeapp"},
    {"h/Applications/Fake/fake --type=gpu-process", "", {}, "h/.config/fakeapp/Cache/1"},
    {"usr/bin/bash", "", "h/.cache"},
};

// For every built-in rule: a process its every name, path ("*" a revision, "~" the scratch
// home "h") and sandbox id matches, which belongs to its application, and the first of those
// as a helper, which belongs to none. Flatpak stand-ins last.
std::vector<StandIn> builtInStandIns() {
    std::vector<StandIn> out, sandboxed;
    for (const auto& [id, rule] : processRulesOf(buildCacheTargets())) {
        std::vector<std::string> paths = rule.paths;
        for (const std::string& name : rule.names) paths.push_back("usr/bin/" + name);
        for (std::string& path : paths) {
            if (path.starts_with("~/")) path = "h" + path.substr(1);
            if (path.starts_with('/')) path.erase(0, 1);
            for (std::size_t at; (at = path.find('*')) != std::string::npos;) path[at] = '7';
            out.push_back({path, id});
        }
        if (!paths.empty()) out.push_back({paths.front() + " --type=renderer", ""});
        for (const std::string& app : rule.flatpakIDs) sandboxed.push_back({"flatpak:" + app, id});
    }
    out.insert(out.end(), sandboxed.begin(), sandboxed.end());
    return out;
}

bool has(const std::vector<AppInstance>& listed, QProcess* p) {
    return std::any_of(listed.begin(), listed.end(),
                       [p](auto& i) { return i.pid == p->processId(); });
}

// closeApp on the real registry narrowed to the processes in `own`, recording how often it listed
// and slept and whom it asked.
struct Closing : RunningApps {
    ProcRunningApps real;
    std::vector<QProcess*> own;
    int listings = 0, sleeps = 0;
    std::vector<AppInstance> asked;

    Closing(std::vector<QProcess*> ownProcesses, const AppProcesses& app,
            const ProcessRules& rules = kFakeRules, const std::string& pathRoot = {})
        : real(rules, pathRoot), own(std::move(ownProcesses)) {
        closeApp(app, *this, [this](std::chrono::milliseconds interval) {
            QCOMPARE(interval, std::chrono::milliseconds(500));
            ++sleeps;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        });
    }
    void narrow(std::vector<AppInstance>& listed) const {
        std::erase_if(listed, [this](const AppInstance& i) {
            return std::none_of(own.begin(), own.end(), [&](QProcess* p) { return has({i}, p); });
        });
    }
    std::vector<AppInstance> instances(const std::string& id) override {
        auto listed = real.instances(id);
        return narrow(listed), ++listings, listed;
    }
    std::vector<std::vector<AppInstance>> holders(
        const std::vector<std::vector<std::string>>& folders) override {
        auto held = real.holders(folders);
        for (auto& listed : held) narrow(listed);
        return held;
    }
    void requestQuit(const AppInstance& instance) override {
        asked.push_back(instance);
        real.requestQuit(instance);
    }
};

}  // namespace

class TestCloseApp : public QObject {
    Q_OBJECT
    fixtures::ScratchDir dir_{fixtures::Reach::anyUser};
    std::vector<std::unique_ptr<QProcess>> processes_;

    // `cwd` and `opens` below the scratch folder: its working folder, the file it holds open.
    QProcess* launch(const std::string& name = kName, const QString& mode = "quit",
                     const QString& extra = "app", bool asNobody = false, const char* cwd = {},
                     const char* opens = {}) {
        processes_.push_back(std::make_unique<QProcess>());
        fixtures::makeDirs(std::filesystem::path(dir_ / name).parent_path());
        if (cwd) fixtures::makeDirs(dir_ / cwd);
        if (cwd) processes_.back()->setWorkingDirectory(QString::fromStdString(dir_ / cwd));
        if (opens && fixtures::writeFile(dir_ / opens, 1) != 1) return nullptr;
        if (opens) processes_.back()->setStandardInputFile(QString::fromStdString(dir_ / opens));
        const QString path = QString::fromStdString(dir_ / name);
        return startApp(*processes_.back(), path, mode, extra, asNobody) ? processes_.back().get()
                                                                         : nullptr;
    }
    // Run by kSandboxed when its spec is "flatpak:<app id>".
    QProcess* launchStandIn(const StandIn& standIn) {
        const QString spec = QString::fromStdString(standIn.spec);
        if (!spec.startsWith("flatpak:")) {
            return launch(spec.section(' ', 0, 0).toStdString(), "quit", spec.section(' ', 1),
                          false, standIn.cwd, standIn.opens);
        }
        const QString root = QString::fromStdString(dir_ / spec.toStdString());
        QProcess& p = *processes_.emplace_back(std::make_unique<QProcess>());
        QDir().mkpath(root);
        p.start("unshare", {"--map-root-user", "--mount", "sh", "-c", kSandboxed, "sh", root,
                            QUIT_HELPER_PATH, spec.mid(8)});
        return p.waitForReadyRead(10'000) ? &p : nullptr;
    }

    // Every stand-in started, or none: the test is skipped where there are no user namespaces
    // for a sandboxed stand-in, failed where another does not start.
    std::vector<QProcess*> launchAll(const std::vector<StandIn>& standIns) {
        std::vector<QProcess*> started;
        for (const StandIn& standIn : standIns) {
            started.push_back(launchStandIn(standIn));
            if (!started.back() && standIn.spec.starts_with("flatpak:")) {
                QTest::qSkip("no user namespaces here for a sandboxed stand-in", __FILE__,
                             __LINE__);
                return {};
            }
            if (!started.back()) {
                QTest::qFail(standIn.spec.c_str(), __FILE__, __LINE__);
                return {};
            }
        }
        return started;
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
        QTest::newRow("another user's") << QStringList{"u nobody"} << QList{0, 0};
        QTest::newRow("another user's, in the folder") << QStringList{"u nobody in"} << QList{0, 0};
    }

    void closeApp() {
        QFETCH(QStringList, processes);
        QFETCH(QList<int>, sleeps);
        std::vector<QProcess*> started;
        for (const QString& p : processes) {
            const QString mode = p.mid(2);
            const bool nobody = mode.startsWith("nobody"), in = mode.endsWith(" in");
            if (nobody && ::geteuid() != 0) QSKIP("another user's process needs root");
            // "in": no rule knows it, it works in the application's folder.
            started.push_back(launch(in ? "other" : kName, p[0] == 'u' ? "quit" : mode, "app",
                                     nobody, in ? "held" : nullptr));
            QVERIFY(started.back());
        }
        Closing c(started, {kFake, {dir_ / "held"}});
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
        QVERIFY(has(ProcRunningApps(kFakeRules).instances(kFake), app));
    }

    // Every stand-in is listed for its own application alone, with the paths below the scratch
    // folder.
    void builtInRulesListOnlyTheirOwn() {
        const std::vector<StandIn> standIns = builtInStandIns();
        const std::vector<QProcess*> started = launchAll(standIns);
        if (started.empty()) return;
        ::setenv("HOME", "/h", 1);
        ProcRunningApps apps(processRulesOf(buildCacheTargets()), dir_.path());
        std::set<std::string> ids;
        for (const StandIn& standIn : standIns) ids.insert(standIn.owner);
        for (const std::string& id : ids) {
            const std::vector<AppInstance> listed = id.empty() ? std::vector<AppInstance>{}
                                                               : apps.instances(id);
            for (std::size_t i = 0; i < started.size(); ++i) {
                const bool own = standIns[i].owner == id;
                QVERIFY2(id.empty() || has(listed, started[i]) == own,
                         (id + ": " + standIns[i].spec).c_str());
            }
        }
    }

    // Closing this test's application asks its own processes alone, the ones found by the
    // folders they hold included.
    void closesOnlyItsOwnApp() {
        fixtures::makeDirs(dir_ / "h/.cache/fakeapp");
        const std::vector<QProcess*> started = launchAll({std::begin(kFakeStandIns),
                                                          std::end(kFakeStandIns)});
        if (started.empty()) return;
        ::setenv("HOME", "/h", 1);
        // The application's folders in the scratch home, as a clean finds them.
        const std::string home = dir_ / "h";
        Resolver resolver(fixtures::homePlaces(home));
        Closing c(started, {kFake, heldFolders(resolver, kFakeTarget)}, kSandboxRules,
                  dir_.path());
        for (std::size_t i = 0; i < started.size(); ++i) {
            const bool asked = kFakeStandIns[i].owner == kFake;
            QVERIFY2(has(c.asked, started[i]) == asked, kFakeStandIns[i].spec.c_str());
            QVERIFY(asked ? quitNormally(started[i]) : stillRunning(started[i]));
        }
    }

    // Only a record the registry handed out is signalled. Its descriptor is opened afresh when
    // someone else closed it, and closed once the process has gone.
    void registryRecordsFollowTheProcess() {
        QProcess* app = launch();
        ProcRunningApps apps(kFakeRules);
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
