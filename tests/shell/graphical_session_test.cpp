#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>

#include "shell/graphical_session.h"

namespace sweepkin {
namespace {

// Sets environment variables for one test and puts the old values back.
class ScopedEnv {
  public:
    ScopedEnv(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& [name, value] : values) {
            saved_.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
            if (value) {
                qputenv(name, value);
            } else {
                qunsetenv(name);
            }
        }
    }
    ~ScopedEnv() {
        for (const Saved& s : saved_) {
            if (s.wasSet) {
                qputenv(s.name, s.value);
            } else {
                qunsetenv(s.name);
            }
        }
    }

  private:
    struct Saved {
        const char* name;
        bool wasSet;
        QByteArray value;
    };
    std::vector<Saved> saved_;
};

// A display number with no X server socket.
int unusedDisplayNumber() {
    for (int n = 4000; n < 4100; ++n) {
        if (access(QByteArray("/tmp/.X11-unix/X" + QByteArray::number(n)).constData(), F_OK) != 0) {
            return n;
        }
    }
    return 4099;
}

TEST(GraphicalSession, NoDisplayAtAllIsReportedInOneLine) {
    ScopedEnv env{{"DISPLAY", nullptr}, {"WAYLAND_DISPLAY", nullptr}, {"QT_QPA_PLATFORM", nullptr}};
    const SessionCheck check = checkGraphicalSession();
    EXPECT_FALSE(check.usable);
    EXPECT_TRUE(check.problem.startsWith("Sweepkin: no graphical session found"));
    EXPECT_FALSE(check.problem.contains('\n'));
}

TEST(GraphicalSession, DeadXServerIsReported) {
    const QByteArray display = ":" + QByteArray::number(unusedDisplayNumber());
    ScopedEnv env{{"DISPLAY", display.constData()},
                  {"WAYLAND_DISPLAY", nullptr},
                  {"QT_QPA_PLATFORM", nullptr}};
    const SessionCheck check = checkGraphicalSession();
    EXPECT_FALSE(check.usable);
    EXPECT_TRUE(check.problem.contains(QString::fromLatin1(display)));
}

TEST(GraphicalSession, ExplicitHeadlessPlatformNeedsNoDisplay) {
    ScopedEnv env{
        {"DISPLAY", nullptr}, {"WAYLAND_DISPLAY", nullptr}, {"QT_QPA_PLATFORM", "offscreen"}};
    EXPECT_TRUE(checkGraphicalSession().usable);
}

TEST(GraphicalSession, XcbForcedWithoutDisplayIsReported) {
    ScopedEnv env{
        {"DISPLAY", nullptr}, {"WAYLAND_DISPLAY", "wayland-0"}, {"QT_QPA_PLATFORM", "xcb"}};
    EXPECT_FALSE(checkGraphicalSession().usable);
}

TEST(GraphicalSession, WaylandSessionIsTrusted) {
    ScopedEnv env{
        {"DISPLAY", nullptr}, {"WAYLAND_DISPLAY", "wayland-0"}, {"QT_QPA_PLATFORM", nullptr}};
    EXPECT_TRUE(checkGraphicalSession().usable);
}

TEST(XDisplayReach, TcpDisplayIsReachableOnlyWhileSomethingListens) {
    // Find a display number whose port is free on the loopback interface and listen there.
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    int number = -1;
    for (int n = 200; n < 400 && number < 0; ++n) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(6000 + n));
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) number = n;
    }
    ASSERT_GE(number, 0);
    ASSERT_EQ(listen(fd, 1), 0);
    const QString display = QStringLiteral("127.0.0.1:%1.0").arg(number);
    EXPECT_TRUE(canReachXDisplay(display));
    close(fd);
    EXPECT_FALSE(canReachXDisplay(display));
}

TEST(XDisplayReach, MalformedNamesAreUnreachable) {
    for (const char* name : {"", "nocolon", ":", ":x", ":-1"}) {
        EXPECT_FALSE(canReachXDisplay(QString::fromLatin1(name))) << name;
    }
}

}  // namespace
}  // namespace sweepkin
