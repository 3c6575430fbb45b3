#pragma once
// The clean run: confirm the ticked rows, then close their applications, remove their cache
// folders, write the report, record the time and log one line off the main thread, and finish
// on the main thread with a text refresh, a rescan and the completion dialog.

#include <QObject>
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/catalogue/app_target.h"
#include "engine/fs/deletion.h"
#include "engine/procs/running_apps.h"
#include "ops/activity_log.h"
#include "ops/desktop.h"
#include "ops/settings.h"
#include "ops/ui_model.h"

namespace sweepkin {

// What the background body of one run hands back to the main thread.
struct CleanOutcome {
    std::vector<std::string> lines;  // one per chosen target, in catalogue order
    std::vector<std::pair<std::string, std::int64_t>> cleaned;  // name and bytes freed
    std::vector<std::string> skipped;  // an automatic clean's rows whose application runs
    std::vector<std::string> inUse;    // tools' rows skipped while a process holds their caches
    std::int64_t cleared = 0;
    std::int64_t freeBefore = 0;
    std::int64_t freeAfter = 0;
    bool anyFailed = false;
    std::vector<Stayed> stayed;  // what could not be removed, and why
};

// The collaborators of a clean run; all of them outlive it.
struct CleanRunContext {
    UIModel& model;
    std::vector<AppTarget> targets;  // the catalogue, in its fixed order
    Desktop& desktop;
    SettingsStore& settings;
    RunningApps& runningApps;
    ActivityLog& log;
    std::string reportPath;
    std::function<void()> refreshTexts;
    std::function<void()> startScan;
    Sleeper sleep = {};  // the wait between checks in closeApp; empty: a real sleep
    // Main thread, as each clean's outcome arrives, before the texts, the rescan and the dialog.
    std::function<void(const CleanOutcome&)> cleaned = {};
};

// The confirmation dialog's texts for `count` targets holding `total` bytes; the tools in use
// are named one a line, "Gradle — in use, skipped".
Alert confirmationAlert(int count, std::int64_t total, const QStringList& runningNames,
                        const QStringList& inUseNames = {});

// "~/.cache/spotify (permission denied), ~/.config/Slack/Cache (in use)".
std::string stayedText(const std::vector<Stayed>& stayed);

// "Google Chrome: cleared 1.23 GB"; after a failure "Spotify: partly cleared 50 MB — could not
// remove ~/.cache/spotify (permission denied)" (on macOS "… — some items need Full Disk Access").
std::string resultLine(const std::string& name, const DeleteResult& result);

class CleanRun : public QObject {
    Q_OBJECT
  public:
    explicit CleanRun(CleanRunContext context, QObject* parent = nullptr);
    // Waits for a body still running in the background; its finish is then dropped.
    ~CleanRun() override;

    // Main thread, the panel's clean action: selection, confirmation, then the background body.
    void cleanSelected();

    // Main thread, the scheduled clean: the rows named `ids`, unattended. No dialog, nothing
    // counted in `ctCleans`, no application closed: a running one's row is skipped (a tool's in
    // use is skipped by either clean). `done` gets
    // the outcome here, after the texts are refreshed and a rescan is started.
    void cleanAutomatically(const QStringList& ids, std::function<void(const CleanOutcome&)> done);

    // Background: closes (or, `automatic`, skips what runs), deletes, accounts, writes the
    // report, `lastClean` and the log line.
    static CleanOutcome runClean(const std::vector<AppTarget>& chosen, RunningApps& runningApps,
                                 SettingsStore& settings, ActivityLog& log,
                                 const std::string& reportPath, const Sleeper& sleep,
                                 bool automatic = false);

    // Main thread: lowers `cleaning`, refreshes the texts, rescans, shows the completion dialog.
    void finishClean(const CleanOutcome& outcome);

    // Blocks until no background body of this run is in flight (the finish may still be queued).
    void waitForBody();

  private:
    std::vector<AppTarget> chosenTargets(const QStringList& ids) const;
    // Runs the body on the shared pool and hands its outcome to `finish` on the main thread,
    // unless this run has gone by then.
    void startBody(std::vector<AppTarget> chosen, bool automatic,
                   std::function<void(const CleanOutcome&)> finish);

    CleanRunContext ctx_;
    std::mutex mutex_;
    std::condition_variable idle_;
    int bodiesInFlight_ = 0;
};

}  // namespace sweepkin
