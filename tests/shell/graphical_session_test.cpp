#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <string>

#include "shell/graphical_session.h"
#include "tests/shell/support.h"

namespace sweepkin {
namespace {

TEST(GraphicalSession, UsableOnlyWithAReachableDisplayOrAnExplicitPlatform) {
    int n = 4000;  // a display number with no X server socket
    while (n < 4099 && access(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), F_OK) == 0) {
        ++n;
    }
    const QByteArray dead = ":" + QByteArray::number(n);
    const struct {
        const char *display, *wayland, *platform;
        bool usable;
        QString problemPart;
    } cases[] = {
        {nullptr, nullptr, nullptr, false, "Sweepkin: no graphical session found"},
        {dead.constData(), nullptr, nullptr, false, QString::fromLatin1(dead)},
        {nullptr, nullptr, "offscreen", true, ""},
        {nullptr, "wayland-0", "xcb", false, ""},
        {nullptr, "wayland-0", nullptr, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.display ? c.display : "-") + " " +
                     (c.wayland ? c.wayland : "-") + " " + (c.platform ? c.platform : "-"));
        testing::ScopedEnv display("DISPLAY", c.display), wayland("WAYLAND_DISPLAY", c.wayland),
            platform("QT_QPA_PLATFORM", c.platform);
        const SessionCheck check = checkGraphicalSession();
        EXPECT_EQ(check.usable, c.usable);
        EXPECT_TRUE(check.problem.contains(c.problemPart)) << check.problem.toStdString();
        EXPECT_FALSE(check.problem.contains('\n')) << "one line";
    }
}

TEST(XDisplayReach, TcpDisplayIsReachableOnlyWhileSomethingListens) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    int number = -1;  // a display number whose loopback port is free
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
    for (const char* name : {"", "nocolon", ":", ":x", ":-1"}) {
        EXPECT_FALSE(canReachXDisplay(QString::fromLatin1(name))) << name;
    }
}

}  // namespace
}  // namespace sweepkin
