#pragma once
// The root of the tray application: owns the model, the scanner, the clean run, the watch, the
// tray icon, the panel and the usage ping, and wires the panel's actions to them.

#include <QElapsedTimer>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <memory>

#include "engine/procs/proc_running_apps.h"
#include "ops/activity_log.h"
#include "ops/settings.h"
#include "ops/ui_model.h"
#include "shell/qt_desktop.h"
#include "shell/xdg_autostart.h"

namespace sweepkin {

class CleanRun;
class DesktopNotices;
class HistoryStore;
class PanelWindow;
struct ProcessValues;
class Scanner;
class SeenRows;
class UsagePing;
class Watch;

class AppDelegate : public QObject {
    Q_OBJECT
  public:
    // `values` are the entry point's and outlive the delegate.
    explicit AppDelegate(const ProcessValues& values, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The start-up sequence. False when the user declined the agreement: nothing was shown and
    // the caller ends the process.
    bool applicationDidFinishLaunching();

    // The tray icon's left click: closes an open panel, or opens it afresh.
    void togglePopover();
    // Opens the panel (or raises it when open); a later launch of the program asks for this.
    void showPanel();

    void refreshTexts();
    void startScan();

  private:
    void openPanel();
    // Keeps the ticks of the panel's rows and adds `seen` to the rows seen; shows a failure.
    void keepTicksShown(const QStringList& seen);
    // After any measurement: the tray's tooltip gives the total and the time.
    void measured();

    const ProcessValues& values_;
    SettingsStore settings_;
    ActivityLog log_;
    UIModel model_;
    XdgAutostartItem loginItem_;
    ProcRunningApps runningApps_;
    QtDesktop desktop_;
    std::unique_ptr<HistoryStore> history_;  // before the scanner and the clean, which record
    std::unique_ptr<Scanner> scanner_;
    std::unique_ptr<SeenRows> seenRows_;
    QTimer seenTimer_;
    QElapsedTimer seenClock_;
    std::unique_ptr<CleanRun> cleanRun_;
    std::unique_ptr<PanelWindow> panel_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    std::unique_ptr<DesktopNotices> notices_;
    std::unique_ptr<Watch> watch_;
    std::unique_ptr<UsagePing> ping_;
    QTimer pingTimer_;
    int measurements_ = 0;
};

}  // namespace sweepkin
