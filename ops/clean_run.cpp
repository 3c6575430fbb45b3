#include "ops/clean_run.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMetaObject>
#include <QPointer>
#include <QSet>
#include <QThreadPool>

#include "engine/fs/home.h"
#include "engine/fs/places.h"
#include "engine/fs/sizes.h"
#include "engine/platform.h"
#include "ops/cleanup_report.h"
#include "ops/report_dialogs.h"
#include "ops/size_text.h"

namespace sweepkin {

namespace {
// A target's application, told by its rules and by the folders it holds; a tool's (no bundle
// id) only by the folders.
AppProcesses processesOf(Resolver& resolver, const AppTarget& target) {
    return {target.bundleID.value_or(std::string()), heldFolders(resolver, target)};
}

const QString kInUse = QStringLiteral(" — in use, skipped");
}  // namespace

Alert confirmationAlert(int count, std::int64_t total, const QStringList& runningNames,
                        const QStringList& inUseNames) {
    Alert alert;
    alert.message = QStringLiteral("Clean %1 selected cache%2 (%3)?")
                        .arg(count)
                        .arg(count == 1 ? QString() : QStringLiteral("s"))
                        .arg(sizeText(total));
    alert.informative = QStringLiteral(
        "Only cache folders are deleted — apps simply rebuild them. Your logins, history, "
        "bookmarks and settings are never touched.");
    if (!runningNames.isEmpty()) {
        alert.informative += QStringLiteral("\n\nThese apps are open and will be closed first: ") +
                             runningNames.join(QStringLiteral(", ")) + QLatin1Char('.');
    }
    if (!inUseNames.isEmpty()) {
        alert.informative += QStringLiteral("\n\n") + inUseNames.join(kInUse + '\n') + kInUse;
    }
    alert.warning = true;
    alert.buttons << QStringLiteral("Clean") << QStringLiteral("Cancel");
    return alert;
}

std::string stayedText(const std::vector<Stayed>& stayed) {
    std::string text;
    for (const Stayed& item : stayed) {
        text += (text.empty() ? "" : ", ") + abbreviateTilde(item.path) + " (" +
                failureText(item.why) + ")";
    }
    return text;
}

std::string resultLine(const std::string& name, const DeleteResult& result) {
    if (!result.anyFailed) return name + ": cleared " + formatBytes(result.freed);
    // Full Disk Access is a macOS setting; elsewhere the paths that stayed, and why.
    return name + ": partly cleared " + formatBytes(result.freed) +
           (kLinuxLocations ? " — could not remove " + stayedText(result.stayed)
                            : " — some items need Full Disk Access");
}

CleanRun::CleanRun(CleanRunContext context, QObject* parent)
    : QObject(parent), ctx_(std::move(context)) {}

CleanRun::~CleanRun() {
    // The body uses the collaborators through this object; they must stay until it is done.
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return bodiesInFlight_ == 0; });
}

std::vector<AppTarget> CleanRun::chosenTargets(const QStringList& ids) const {
    std::vector<AppTarget> chosen;
    for (const AppTarget& target : ctx_.targets) {
        if (ids.contains(QString::fromStdString(target.id))) chosen.push_back(target);
    }
    return chosen;
}

void CleanRun::cleanSelected() {
    QStringList ids;
    std::int64_t total = 0;
    for (const CacheRow& row : ctx_.model.selectedRows()) {
        ids << row.id;
        total += row.size.value_or(0);
    }
    std::vector<AppTarget> chosen = chosenTargets(ids);
    if (chosen.empty()) return;

    // One look at the processes for all the chosen targets.
    Resolver resolver(currentPlaces());
    std::vector<AppProcesses> apps;
    for (const AppTarget& target : chosen) apps.push_back(processesOf(resolver, target));
    const auto running = runningInstances(ctx_.runningApps, apps);
    QStringList runningNames, inUseNames;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        if (!running[i].empty()) {
            (chosen[i].bundleID ? runningNames : inUseNames)
                << QString::fromStdString(chosen[i].name);
        }
    }

    ctx_.desktop.closePanel();
    const Alert alert =
        confirmationAlert(static_cast<int>(chosen.size()), total, runningNames, inUseNames);
    if (ctx_.desktop.runAlert(alert) != 0) return;

    ctx_.model.setCleaning(true);
    ctx_.settings.increment(keys::ctCleans);
    startBody(std::move(chosen), false,
              [this](const CleanOutcome& outcome) { finishClean(outcome); });
}

void CleanRun::cleanAutomatically(const QStringList& ids,
                                  std::function<void(const CleanOutcome&)> done) {
    std::vector<AppTarget> chosen = chosenTargets(ids);
    if (chosen.empty()) return;
    ctx_.model.setCleaning(true);
    startBody(std::move(chosen), true, [this, done](const CleanOutcome& outcome) {
        ctx_.model.setCleaning(false);
        if (ctx_.refreshTexts) ctx_.refreshTexts();
        if (ctx_.startScan) ctx_.startScan();
        if (done) done(outcome);
    });
}

void CleanRun::startBody(std::vector<AppTarget> chosen, bool automatic,
                         std::function<void(const CleanOutcome&)> finish) {
    {
        std::lock_guard lock(mutex_);
        ++bodiesInFlight_;
    }
    QPointer<CleanRun> self(this);
    QThreadPool::globalInstance()->start(
        [this, self, chosen = std::move(chosen), automatic, finish = std::move(finish)] {
            CleanOutcome outcome = runClean(chosen, ctx_.runningApps, ctx_.settings, ctx_.log,
                                            ctx_.reportPath, ctx_.sleep, automatic);
            // Queued to the application object: the pointer is only looked at on the main thread,
            // and a run whose owner has gone finishes without touching anything.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, finish, outcome = std::move(outcome)] {
                    if (!self) return;
                    if (self->ctx_.cleaned) self->ctx_.cleaned(outcome);
                    finish(outcome);
                },
                Qt::QueuedConnection);
            std::lock_guard lock(mutex_);
            --bodiesInFlight_;
            idle_.notify_all();
        });
}

CleanOutcome CleanRun::runClean(const std::vector<AppTarget>& chosen, RunningApps& runningApps,
                                SettingsStore& settings, ActivityLog& log,
                                const std::string& reportPath, const Sleeper& sleep,
                                bool automatic) {
    CleanOutcome outcome;
    outcome.freeBefore = homeDiskSpace().free;
    Resolver resolver(currentPlaces());  // the roots, opened once for the whole clean
    for (const AppTarget& target : chosen) {
        const AppProcesses app = processesOf(resolver, target);
        // A tool has nothing to close: while a process of the user's holds its caches (a build
        // daemon, an IDE, a lock held open), its row waits for the next clean, whoever started
        // this one, and the process is never signalled.
        if (!target.bundleID && !app.folders.empty() &&
            !runningApps.holders({app.folders}).front().empty()) {
            outcome.inUse.push_back(target.name);
            outcome.lines.push_back(target.name + kInUse.toStdString());
            continue;
        }
        // Nobody is there to see an application close: its row waits for the next clean.
        if (automatic && target.bundleID && !runningInstances(runningApps, app).empty()) {
            outcome.skipped.push_back(target.name);
            outcome.lines.push_back(target.name + " — running");
            continue;
        }
        // Every chosen application is closed, whether or not the dialog named it as running.
        if (target.bundleID && !automatic) closeApp(app, runningApps, sleep);
        const DeleteResult result = deleteLocations(resolver, target.locations);
        outcome.cleared = addBytes(outcome.cleared, result.freed);
        outcome.lines.push_back(resultLine(target.name, result));
        outcome.anyFailed = outcome.anyFailed || result.anyFailed;
        outcome.stayed.insert(outcome.stayed.end(), result.stayed.begin(), result.stayed.end());
        outcome.cleaned.emplace_back(target.name, result.freed);
    }
    outcome.freeAfter = homeDiskSpace().free;

    writeCleanupReport(reportPath, outcome.lines, outcome.cleared, outcome.freeBefore,
                       outcome.freeAfter);
    settings.setDate(keys::lastClean, QDateTime::currentDateTime());
    QString note;
    if (automatic) {
        QStringList skipped;
        for (const std::string& name : outcome.skipped) skipped << QString::fromStdString(name);
        note = skipped.isEmpty() ? QStringLiteral(" (automatic)")
                                 : QStringLiteral(" (automatic; skipped %1 — running)")
                                       .arg(skipped.join(QStringLiteral(", ")));
    }
    QString line = QStringLiteral("Cleaned %1 target(s), freed %2%3.")
                       .arg(outcome.cleaned.size())
                       .arg(sizeText(outcome.cleared), note);
    if (!outcome.inUse.empty()) {
        QStringList names;
        for (const std::string& name : outcome.inUse) names << QString::fromStdString(name);
        line += QLatin1Char(' ') + names.join(QStringLiteral(", ")) + kInUse + QLatin1Char('.');
    }
    if (kLinuxLocations && !outcome.stayed.empty()) {
        line += QStringLiteral(" Could not remove ") +
                QString::fromStdString(stayedText(outcome.stayed)) + QLatin1Char('.');
    }
    log.logActivity(line);
    return outcome;
}

void CleanRun::finishClean(const CleanOutcome& outcome) {
    ctx_.model.setCleaning(false);
    if (ctx_.refreshTexts) ctx_.refreshTexts();
    if (ctx_.startScan) ctx_.startScan();
    showCompletionDialog(ctx_.desktop, outcome.cleared, outcome.freeAfter, outcome.freeBefore,
                         outcome.anyFailed, QString::fromStdString(stayedText(outcome.stayed)));
}

void CleanRun::waitForBody() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return bodiesInFlight_ == 0; });
}

}  // namespace sweepkin
