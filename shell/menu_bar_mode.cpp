#include "shell/menu_bar_mode.h"

#include <QApplication>
#include <cstdio>

#include "shell/app_delegate.h"
#include "shell/graphical_session.h"
#include "shell/icons.h"
#include "shell/single_instance.h"

namespace sweepkin {

int runMenuBarMode(int argc, char** argv, const ProcessValues& values) {
    // Qt aborts when its platform cannot connect, so find out first and say it in one line.
    const SessionCheck session = checkGraphicalSession();
    if (!session.usable) {
        std::fprintf(stderr, "%s\n", session.problem.toLocal8Bit().constData());
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sweepkin"));
    QApplication::setDesktopFileName(QString::fromLatin1(kIconName));
    // Only the tray icon keeps the program alive; closing a dialog or the panel does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(trayIcon());

    SingleInstance instance(SingleInstance::defaultRuntimeDir());
    if (!instance.claim()) {
        if (!instance.signalRunningInstance()) {
            std::fputs("Sweepkin: already running, but the running copy did not answer.\n", stderr);
        }
        return 0;
    }

    AppDelegate delegate(values);
    QObject::connect(&instance, &SingleInstance::showRequested, &delegate, &AppDelegate::showPanel);
    if (!delegate.applicationDidFinishLaunching()) return 0;
    app.exec();
    return 0;
}

}  // namespace sweepkin
