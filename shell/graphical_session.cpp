#include "shell/graphical_session.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "engine/fs/unique_fd.h"

namespace sweepkin {

namespace {

UniqueFd streamSocket(int domain) {
    return UniqueFd(::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

bool connectUnix(const QByteArray& path, bool abstract) {
    const UniqueFd s = streamSocket(AF_UNIX);
    if (!s) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const size_t offset = abstract ? 1 : 0;
    if (static_cast<size_t>(path.size()) + offset >= sizeof(addr.sun_path)) return false;
    std::memcpy(addr.sun_path + offset, path.constData(), static_cast<size_t>(path.size()));
    const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                                    path.size() + (abstract ? 0 : 1));
    return ::connect(s.get(), reinterpret_cast<sockaddr*>(&addr), length) == 0;
}

bool connectTcp(const QByteArray& host, int port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.constData(), QByteArray::number(port).constData(), &hints, &found) !=
        0) {
        return false;
    }
    bool ok = false;
    for (addrinfo* a = found; a && !ok; a = a->ai_next) {
        const UniqueFd s = streamSocket(a->ai_family);
        ok = s && ::connect(s.get(), a->ai_addr, a->ai_addrlen) == 0;
    }
    ::freeaddrinfo(found);
    return ok;
}

}  // namespace

bool canReachXDisplay(const QString& display) {
    const int colon = display.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) return false;
    QString host = display.left(colon);
    QString number = display.mid(colon + 1);
    const int dot = number.indexOf(QLatin1Char('.'));
    if (dot >= 0) number.truncate(dot);
    bool ok = false;
    const int n = number.toInt(&ok);
    if (!ok || n < 0) return false;

    if (host.startsWith(QLatin1Char('/'))) {
        // A socket path given directly (as some systems set DISPLAY).
        return connectUnix(display.left(colon).toLocal8Bit(), false);
    }
    if (host.isEmpty() || host == QStringLiteral("unix")) {
        const QByteArray path = QByteArrayLiteral("/tmp/.X11-unix/X") + QByteArray::number(n);
        return connectUnix(path, false) || connectUnix(path, true);
    }
    return connectTcp(host.toLocal8Bit(), 6000 + n);
}

SessionCheck checkGraphicalSession() {
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    const QString display = qEnvironmentVariable("DISPLAY");
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    // A platform chosen explicitly (offscreen, vnc, ...) needs no desktop session.
    const bool explicitNonDesktop =
        !platform.isEmpty() && !platform.startsWith(u"xcb") && !platform.startsWith(u"wayland");
    if (explicitNonDesktop) return {true, {}};
    if (!wayland.isEmpty() && !platform.startsWith(u"xcb")) return {true, {}};
    if (display.isEmpty()) {
        return {false,
                QStringLiteral("Sweepkin: no graphical session found (DISPLAY/WAYLAND_DISPLAY "
                               "unset); --selftest and --clear-cloudkit-now work without one.")};
    }
    if (!canReachXDisplay(display)) {
        return {false, QStringLiteral("Sweepkin: cannot connect to the X display \"%1\"; "
                                      "--selftest and --clear-cloudkit-now work without one.")
                           .arg(display)};
    }
    return {true, {}};
}

}  // namespace sweepkin
