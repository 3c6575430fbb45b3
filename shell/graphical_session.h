#pragma once
// Whether a GUI can start at all, checked before the application object exists (Qt aborts the
// process when its platform plugin cannot connect).

#include <QString>

namespace sweepkin {

struct SessionCheck {
    bool usable = false;
    QString problem;  // one line for stderr when not usable
};

// Looks at DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM, and for an X display tries to connect to
// its socket.
SessionCheck checkGraphicalSession();

// Whether something accepts connections on the X display named like ":0", ":1.0", "unix:2" or
// "host:0".
bool canReachXDisplay(const QString& display);

}  // namespace sweepkin
