#pragma once
// The quiet watch: a measurement some minutes after start and then every few hours, at idle
// priorities, that updates the rows (and so the tray's tooltip), tells the user when the caches
// have grown, and runs the scheduled clean when one is due.

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>
#include <utility>

#include "engine/fs/sizes.h"
#include "ops/clean_run.h"
#include "ops/scan.h"
#include "ops/settings.h"
#include "ops/ui_model.h"

namespace sweepkin {

// `notifyBytes` when the key is absent.
inline constexpr qint64 kDefaultNotifyBytes = 5'000'000'000;
// On a disk less than a tenth free, this much in the ticked rows is worth a notice as well.
inline constexpr qint64 kLowDiskNotifyBytes = 500'000'000;

// A desktop notification: title, body and the actions offered, as (key, label).
struct Notice {
    QString title;
    QString body;
    QList<std::pair<QString, QString>> actions;
};

// Where notices go: the desktop's notification service, the tray's balloon, or nowhere.
class Notices {
  public:
    virtual ~Notices() = default;
    // `onAction` gets the key of the action the user picks, on the main thread, if one is picked.
    virtual void send(const Notice& notice, std::function<void(const QString& key)> onAction) = 0;
};

// "Sweepkin — 6.40 GB of caches · measured 14:05".
QString trayToolTip(qint64 totalBytes, const QDateTime& measuredAt);

// What the last growth notice reported, and when.
struct NoticeHistory {
    std::optional<qint64> bytes;
    std::optional<QDateTime> at;
};

// Whether ticked rows holding `tickedBytes` deserve a growth notice now: at least `threshold`
// (0: never), or a disk (`freeBytes` of `diskBytes`) less than a tenth free; then at most one a
// day, and none within 10% of the last notice's total until a week has passed.
bool growthNoticeDue(qint64 tickedBytes, qint64 freeBytes, qint64 diskBytes, qint64 threshold,
                     const NoticeHistory& last, const QDateTime& now);

// "6.40 GB of caches could be cleaned", with the three largest ticked rows in the body.
Notice growthNotice(const QVector<CacheRow>& rows);
// "Sweepkin freed 2.30 GB", with the rows cleaned and those skipped.
Notice cleanNotice(const CleanOutcome& outcome);

// The rows a scheduled clean takes now: none unless it is on (`days` > 0) and the last clean is
// that old or absent; then the ticked rows, those the user has seen in the panel only.
QStringList scheduledCleanRows(const QVector<CacheRow>& rows, const QSet<QString>& seen,
                               qint64 days, const std::optional<QDateTime>& lastClean,
                               const QDateTime& now);

// Whether a scheduled clean may run at all now, whatever the rows: not while the watch is off,
// the settings cannot be saved (the clean's own record would be lost and it would come again),
// the row lists or `lastClean` cannot be read, or a change of ticks is not saved.
bool scheduledCleanAllowed(const SettingsStore& settings);
// What the settings page says will happen, in one line; empty when automatic cleaning is off.
QString scheduledCleanNote(const SettingsStore& settings, const QDateTime& now);

// What the watch works with; all of it outlives the watch.
struct WatchContext {
    UIModel& model;
    Scanner& scanner;
    CleanRun& cleanRun;  // its running-application list decides what a scheduled clean skips
    SettingsStore& settings;
    Notices& notices;
    std::function<QDateTime()> now;   // the clock
    std::function<bool()> onBattery;  // the power state, asked on the measuring thread
    std::function<bool()> panelOpen;
    std::function<void()> review = {};      // the growth notice's "Review": opens the panel
    std::function<void()> showReport = {};  // the clean notice's "Show report"
    std::function<DiskSpace()> disk = homeDiskSpace;
    // A line for the growth notice naming the row that grew most since the last notice (at the
    // time given, none before the first); empty: none.
    std::function<QString(const std::optional<QDateTime>& lastNotice)> grewMost = {};
};

class Watch : public QObject {
  public:
    // The first measurement comes `firstDelay` after start, and no scheduled clean before that;
    // then one every `interval`.
    Watch(WatchContext context, std::chrono::milliseconds firstDelay,
          std::chrono::milliseconds interval, QObject* parent = nullptr);

    // Arms the timer.
    void start();
    // One turn: measures unless `disableWatch` is set, a clean or a scan runs, or the panel is
    // open.
    void measure();

  private:
    // After the watch's own measurement reached the model: a scheduled clean, else a notice.
    void measured();

    WatchContext ctx_;
    const std::chrono::milliseconds firstDelay_;
    const std::chrono::milliseconds interval_;
    const QDateTime startedAt_;
    QTimer timer_;
};

}  // namespace sweepkin
