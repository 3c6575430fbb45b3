#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <vector>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include "shell/single_instance.h"

namespace sweepkin {
namespace {

// A later launch (on its own thread: it blocks while it talks) asks `running` to show its panel.
void expectShowRequestDelivered(SingleInstance& running, const QString& runtime) {
    QSignalSpy shown(&running, &SingleInstance::showRequested);
    SingleInstance later(runtime);
    EXPECT_FALSE(later.claim()) << "the running one holds the lock";
    bool delivered = false;
    std::unique_ptr<QThread> thread(
        QThread::create([&] { delivered = later.signalRunningInstance(5000); }));
    thread->start();
    EXPECT_TRUE(shown.wait(5000));
    thread->wait();
    EXPECT_TRUE(delivered);
    EXPECT_EQ(shown.count(), 1);
}

TEST(SingleInstance, LaterLaunchCannotClaimAndAsksTheRunningOneToShowItsPanel) {
    QTemporaryDir dir;
    SingleInstance later(dir.path() + "/rt");
    EXPECT_FALSE(later.signalRunningInstance(300)) << "nobody is listening yet";
    SingleInstance running(dir.path() + "/rt");
    ASSERT_TRUE(running.claim());
    expectShowRequestDelivered(running, dir.path() + "/rt");
}

TEST(SingleInstance, LockOfADeadProcessIsTakenOver) {
    QTemporaryDir dir;
    const QString runtime = dir.path() + "/rt";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Claim and die without releasing anything, as a crash would.
        SingleInstance crashed(runtime);
        _exit(crashed.claim() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(QFile::exists(runtime + "/instance.lock"));
    SingleInstance next(runtime);
    EXPECT_TRUE(next.claim());
    expectShowRequestDelivered(next, runtime);  // the socket left behind must be replaced
}

// Without a runtime folder the lock lives in /tmp, where another user can create the name first.
// Such a folder is never used: both launches run, and nothing is written into it.
TEST(SingleInstance, FolderThatIsNotPrivatelyOursIsNotUsed) {
    QTemporaryDir dir;
    const QString rt = dir.path() + "/rt";
    const QByteArray path = QFile::encodeName(rt);
    struct Case {
        const char* what;
        std::function<void()> make;  // leaves `rt` in place, or nothing for a fresh folder
        bool usable;
    };
    const std::vector<Case> cases = {
        {"missing: created private", [] {}, true},
        {"a link to a private folder",
         [&] {
             QDir().mkdir(dir.path() + "/real");
             ::chmod(QFile::encodeName(dir.path() + "/real").constData(), 0700);
             QFile::link(dir.path() + "/real", rt);
         },
         false},
        {"open to other users",
         [&] {
             QDir().mkdir(rt);
             ::chmod(path.constData(), 0777);
         },
         false},
        {"owned by another user",
         [&] {
             QDir().mkdir(rt);
             ::chmod(path.constData(), 0700);
             if (::geteuid() == 0) (void)::chown(path.constData(), 65534, 65534);
         },
         ::geteuid() != 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(rt).removeRecursively();
        QFile::remove(rt);
        c.make();
        SingleInstance first(rt), second(rt);
        EXPECT_TRUE(first.claim());
        EXPECT_EQ(first.problem().isEmpty(), c.usable) << first.problem().toStdString();
        EXPECT_EQ(second.claim(), !c.usable) << "a usable folder holds the lock";
        if (!c.usable) {
            EXPECT_FALSE(QFile::exists(rt + "/instance.lock"));
            EXPECT_FALSE(QFile::exists(dir.path() + "/real/instance.lock"));
        } else {
            struct stat st {};
            ASSERT_EQ(::lstat(path.constData(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0700u);
        }
    }
}

}  // namespace
}  // namespace sweepkin
