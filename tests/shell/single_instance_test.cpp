#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "shell/single_instance.h"

namespace sweepkin {
namespace {

TEST(SingleInstance, SecondClaimFailsWhileTheFirstHoldsTheLock) {
    QTemporaryDir dir;
    SingleInstance first(dir.path() + "/rt");
    ASSERT_TRUE(first.claim());
    SingleInstance second(dir.path() + "/rt");
    EXPECT_FALSE(second.claim());
}

TEST(SingleInstance, LaterLaunchAsksTheRunningOneToShowItsPanel) {
    QTemporaryDir dir;
    SingleInstance running(dir.path() + "/rt");
    ASSERT_TRUE(running.claim());
    QSignalSpy shown(&running, &SingleInstance::showRequested);

    // The later launch blocks while it talks, so it runs on its own thread.
    SingleInstance later(dir.path() + "/rt");
    bool delivered = false;
    std::unique_ptr<QThread> thread(
        QThread::create([&] { delivered = later.signalRunningInstance(5000); }));
    thread->start();
    EXPECT_TRUE(shown.wait(5000));
    thread->wait();
    EXPECT_TRUE(delivered);
    EXPECT_EQ(shown.count(), 1);
}

TEST(SingleInstance, NobodyListeningMeansTheSignalFails) {
    QTemporaryDir dir;
    SingleInstance later(dir.path() + "/rt");
    EXPECT_FALSE(later.signalRunningInstance(300));
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
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_TRUE(QFile::exists(runtime + "/instance.lock"));

    SingleInstance next(runtime);
    EXPECT_TRUE(next.claim());
    QSignalSpy shown(&next, &SingleInstance::showRequested);
    SingleInstance later(runtime);
    std::unique_ptr<QThread> thread(QThread::create([&] { later.signalRunningInstance(5000); }));
    thread->start();
    EXPECT_TRUE(shown.wait(5000)) << "the socket left behind must be replaced";
    thread->wait();
}

}  // namespace
}  // namespace sweepkin
