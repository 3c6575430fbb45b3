#include "shell/app_delegate.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <cstdio>

#include "engine/process_values.h"
#include "engine/resources.h"
#include "ops/clean_run.h"
#include "ops/panel_texts.h"
#include "ops/report_dialogs.h"
#include "ops/scan.h"
#include "ping/usage_ping.h"
#include "shell/agreement.h"
#include "shell/icons.h"
#include "shell/login.h"
#include "shell/panel_window.h"
#include "shell/popover_view.h"

namespace sweepkin {

namespace {
constexpr int kFirstPingDelayMs = 10'000;
constexpr int kPingIntervalMs = 21'600 * 1000;
}  // namespace

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent),
      log_(processValues().logPath, processValues().maxLogBytes),
      loginItem_(defaultAutostartEntryPath(), QCoreApplication::applicationFilePath()),
      scanner_(std::make_unique<Scanner>(model_, processValues().cacheTargets)) {}

AppDelegate::~AppDelegate() {
    // The panel refers to the model and the desktop; let it go first.
    statusItem_.reset();
    panel_.reset();
}

bool AppDelegate::applicationDidFinishLaunching() {
    std::optional<QString> license;
    if (auto path = resourcePath(kLicenseFileName)) license = QString::fromStdString(*path);
    if (!ensureAgreementAccepted(
            desktop_, settings_, [this](const QString& line) { log_.logActivity(line); },
            license)) {
        return false;
    }

    const ProcessValues& values = processValues();
    cleanRun_ = std::make_unique<CleanRun>(CleanRunContext{
        model_,
        values.cacheTargets,
        desktop_,
        settings_,
        runningApps_,
        log_,
        values.reportPath,
        [this] { refreshTexts(); },
        [this] { startScan(); },
    });

    statusItem_ = std::make_unique<QSystemTrayIcon>(trayIcon());
    statusItem_->setToolTip(QStringLiteral("Sweepkin"));
    connect(statusItem_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) togglePopover();
            });
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        std::fputs(
            "Sweepkin: no system tray found; the icon appears as soon as one starts (on GNOME, "
            "enable an AppIndicator/StatusNotifier extension). Launching Sweepkin again opens "
            "its panel.\n",
            stderr);
    }
    statusItem_->show();

    // Callbacks hold the delegate weakly and do nothing once it is gone.
    const QPointer<AppDelegate> self(this);
    AppActions actions;
    actions.clean = [self] {
        if (self) self->cleanRun_->cleanSelected();
    };
    actions.showReport = [self] {
        if (self) showLastReport(self->desktop_, processValues().reportPath);
    };
    actions.quit = [] { QCoreApplication::quit(); };
    actions.setLogin = [self](bool on) {
        if (self) applyLoginSwitch(self->loginItem_, self->model_, on);
    };
    panel_ = std::make_unique<PanelWindow>(new PopoverView(&model_, std::move(actions)));
    desktop_.setPanel(panel_.get());

    ensureInitialLoginSetup(loginItem_, settings_);
    refreshTexts();

    ping_ = std::make_unique<UsagePing>(settings_);
    QTimer::singleShot(kFirstPingDelayMs, this, [this] { ping_->sendUsagePing(); });
    pingTimer_.setInterval(kPingIntervalMs);
    connect(&pingTimer_, &QTimer::timeout, this, [this] { ping_->sendUsagePing(); });
    pingTimer_.start();
    return true;
}

void AppDelegate::togglePopover() {
    if (!panel_) return;
    if (panel_->isShownOrJustClosed()) {
        panel_->close();
        return;
    }
    openPanel();
}

void AppDelegate::showPanel() {
    if (!panel_) return;  // still at the agreement
    if (panel_->isVisible()) {
        panel_->raise();
        panel_->activateWindow();
        return;
    }
    openPanel();
}

void AppDelegate::openPanel() {
    settings_.increment(keys::ctPanelOpens);
    refreshTexts();
    startScan();
    panel_->showNear(statusItem_ ? statusItem_->geometry() : QRect());
}

void AppDelegate::refreshTexts() {
    sweepkin::refreshTexts(model_, settings_, loginItem_);
}

void AppDelegate::startScan() {
    scanner_->startScan();
}

}  // namespace sweepkin
