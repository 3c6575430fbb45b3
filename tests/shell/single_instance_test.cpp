#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace
}  // namespace sweepkin
