#include "shell/app_delegate.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <QSaveFile>
#include <chrono>
#include <cstdio>

#include "engine/fs/home.h"
#include "engine/process_values.h"
#include "engine/resources.h"
#include "ops/clean_run.h"
#include "ops/history_store.h"
#include "ops/history_summary.h"
#include "ops/panel_texts.h"
#include "ops/report_dialogs.h"
#include "ops/scan.h"
#include "ops/seen_rows.h"
#include "ops/watch.h"
#include "ping/usage_ping.h"
#include "shell/agreement.h"
#include "shell/desktop_notices.h"
#include "shell/history_page.h"
#include "shell/icons.h"
#include "shell/login.h"
#include "shell/panel_window.h"
#include "shell/popover_view.h"
#include "shell/settings_page.h"
#include "shell/test_dump.h"

namespace sweepkin {

namespace {
constexpr int kFirstPingDelayMs = 10'000;
constexpr int kPingIntervalMs = 21'600 * 1000;
// How often an open panel looks at which rows are in view.
constexpr int kSeenPollMs = 200;

// The watch's first measurement comes well after a login has settled, and then a few a day.
struct WatchTiming {
    std::chrono::milliseconds firstDelay = std::chrono::minutes(10);
    std::chrono::milliseconds interval = std::chrono::hours(6);
};

WatchTiming watchTiming() {
#ifdef SWEEPKIN_TEST_HOOKS
    // Builds with tests only: SWEEPKIN_TEST_WATCH_MS=N measures N ms after start and every N ms,
    // for the end-to-end run and the benchmarks.
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("SWEEPKIN_TEST_WATCH_MS", &ok);
    if (ok && ms > 0) return {std::chrono::milliseconds(ms), std::chrono::milliseconds(ms)};
#endif
    return {};
}

QDateTime now() {
    return QDateTime::currentDateTime();
}
}  // namespace

AppDelegate::AppDelegate(const ProcessValues& values, QObject* parent)
    : QObject(parent),
      values_(values),
      log_(values.logPath, values.maxLogBytes),
      loginItem_(defaultAutostartEntryPath(), QCoreApplication::applicationFilePath()),
      runningApps_(processRulesOf(values.cacheTargets)),
      history_(
          std::make_unique<HistoryStore>(QString::fromStdString(values.historyPath),
                                         [this](const QString& line) { log_.logActivity(line); })),
      scanner_(std::make_unique<Scanner>(model_, values.cacheTargets, &settings_)),
      seenRows_(std::make_unique<SeenRows>()) {
    if (settings_.damaged()) {
        const auto copy = settings_.brokenCopy();
        std::fprintf(stderr,
                     "Sweepkin: the settings file %s could not be read%s, and nothing is cleaned "
                     "automatically until the panel has shown you its list.\n",
                     abbreviateTilde(settings_.filePath().toStdString()).c_str(),
                     copy ? ("; a copy is kept as " + abbreviateTilde(copy->toStdString())).c_str()
                          : "; no copy of it could be kept");
    }
}

AppDelegate::~AppDelegate() {
    // The panel refers to the model and the desktop, the notices to the tray; let them go first.
    watch_.reset();
    notices_.reset();
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

    const ProcessValues& values = values_;
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
        {},
        [this](const CleanOutcome& outcome) {
            history_->add(cleanRecord(model_.rows(), outcome, now(), values_.cacheTargets));
        },
    });
    recordMeasurements(*scanner_, model_, *history_, now);

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
        if (self) showLastReport(self->desktop_, self->values_.reportPath);
    };
    actions.quit = [] { QCoreApplication::quit(); };
    actions.setLogin = [self](bool on) {
        if (self) applyLoginSwitch(self->loginItem_, self->model_, on);
    };
    panel_ = std::make_unique<PanelWindow>(
        new PopoverView(&model_, std::move(actions), QString::fromStdString(values.appVersion),
                        values.cacheTargets),
        new SettingsPage(settings_), new HistoryPage(history_.get(), values.cacheTargets, now));
    desktop_.setPanel(panel_.get());
    // What the user has in front of them in the panel is what a restart and a scheduled clean
    // go by: the ticks of its rows, and the rows that stayed in view long enough.
    connect(panel_->view(), &PopoverView::contentChanged, this, [this] {
        if (panel_->isVisible()) keepTicksShown({});
    });
    seenTimer_.setInterval(kSeenPollMs);
    connect(&seenTimer_, &QTimer::timeout, this, [this] {
        const bool shown = panel_->isVisible();
        const QStringList seen = seenRows_->observe(
            shown ? panel_->view()->rowsInView() : QStringList(), seenClock_.elapsed());
        if (!seen.isEmpty()) keepTicksShown(seen);
        if (!shown) seenTimer_.stop();
    });
    seenClock_.start();
    // A settings file that cannot be saved or read: one log line each time, and the panel's line.
    settings_.setProblemListener([this, self](const QString& problem) {
        log_.logActivity(problem);
        QMetaObject::invokeMethod(
            this,
            [self] {
                if (self)
                    self->model_.setSettingsProblem(self->settings_.problem().value_or(QString()));
            },
            Qt::QueuedConnection);
    });
    if (const auto problem = settings_.problem()) log_.logActivity(*problem);
    connect(scanner_.get(), &Scanner::measured, this, &AppDelegate::measured);

    notices_ = std::make_unique<DesktopNotices>(statusItem_.get());
    const WatchTiming timing = watchTiming();
    watch_ = std::make_unique<Watch>(
        WatchContext{model_, *scanner_, *cleanRun_, settings_, *notices_, now, onBatteryPower,
                     [self] { return self && self->panel_->isVisible(); },
                     [self] {
                         if (self) self->showPanel();
                     },
                     [self] {
                         if (self) showLastReport(self->desktop_, self->values_.reportPath);
                     },
                     homeDiskSpace,
                     [self](const std::optional<QDateTime>& lastNotice) {
                         if (!self) return QString();
                         return grewMostLine(self->history_->readNow(), lastNotice,
                                             self->values_.cacheTargets);
                     }},
        timing.firstDelay, timing.interval);
    watch_->start();

    ensureInitialLoginSetup(loginItem_, settings_);
    refreshTexts();

    ping_ = std::make_unique<UsagePing>(settings_, QString::fromStdString(values_.appVersion));
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
    // A new opening starts every row's second afresh, however soon after the last one it comes.
    seenRows_->observe({}, seenClock_.elapsed());
    seenTimer_.start();
}

void AppDelegate::keepTicksShown(const QStringList& seen) {
    keepTicks(settings_, model_.rows(), seen);
    const QString problem = settings_.problem().value_or(QString());
    if (problem != model_.settingsProblem()) model_.setSettingsProblem(problem);
}

void AppDelegate::measured() {
    statusItem_->setToolTip(trayToolTip(model_.totalBytes(), now()));
    // With SWEEPKIN_TEST_DUMP=FILE, FILE.tray holds the tooltip and the number of measurements.
    const QString dump = testDumpPath();
    if (dump.isEmpty()) return;
    QSaveFile file(dump + QStringLiteral(".tray"));
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(QStringLiteral("%1\n@measurements %2\n")
                   .arg(statusItem_->toolTip())
                   .arg(++measurements_)
                   .toUtf8());
    file.commit();
}

void AppDelegate::refreshTexts() {
    sweepkin::refreshTexts(model_, settings_, loginItem_);
}

void AppDelegate::startScan() {
    scanner_->startScan();
}

}  // namespace sweepkin
