#pragma once
// The scan: measures every catalogue entry off the main thread and publishes the growing list of
// panel rows to the UI model, dropping whatever a superseded scan produces.

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QVector>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "engine/catalogue/app_target.h"
#include "ops/settings.h"
#include "ops/ui_model.h"

namespace sweepkin {

// A target holding at least this many bytes gets a panel row (1 MB in decimal units).
inline constexpr qint64 kScanRowThreshold = 1'000'000;

// A row's id mapped to its tick, taken from the model when a scan starts.
using Selection = QHash<QString, bool>;

// The tick of a row the model does not hold: the user's own choice, kept across restarts, else
// the row's first-seen default, which is ticked unless the row is among `startUnticked`.
struct KeptTicks {
    QSet<QString> unticked;       // rows the user left unticked in the panel
    QSet<QString> seen;           // rows the user has had in front of them in the panel
    QSet<QString> startUnticked;  // rows that come unticked the first time they are seen
    // False when the unticked rows on file are damaged, of another kind or lost, or the file
    // could not be parsed: then every row comes unticked and no scheduled clean runs until the
    // panel has shown the rows again. A damaged list of seen rows reads as none seen.
    bool trusted = true;
    bool tickFor(const QString& id) const;
};

// The ticks kept in `settings`, with the given first-seen exceptions.
KeptTicks keptTicks(const SettingsStore& settings, const QSet<QString>& startUnticked);
// Keeps the ticks of `shown`, the rows the panel holds (each tick replaces whatever was kept for
// its row), and adds `seenNow`, the rows that have been in the list's visible area long enough,
// to the rows seen. Writes what changed, and both lists whole when they were damaged, missing
// or not saved before.
void keepTicks(SettingsStore& settings, const QVector<CacheRow>& shown,
               const QStringList& seenNow = {});

// Rewrites the row lists that earlier versions kept by display name (`untickedRows`,
// `seenRows`) as the entries' ids, so that an upgrade keeps the user's ticks. Writes only what
// changed; a list holding anything that is neither an id nor a catalogue name stays as it is.
void migrateRowKeys(SettingsStore& settings, const std::vector<AppTarget>& targets);

// Called with the rows found so far; `final` is true once, after the last target.
using ScanPublisher = std::function<void(const QVector<CacheRow>& rows, bool final)>;

// Measures the targets in catalogue order (their items, as a clean would remove them) and
// publishes after each row found and once more at the end. A row's tick comes from
// `previousSelection`, else from `kept`. Once `stopped` says so (checked before each target) it
// gives up without publishing more.
void runScan(const std::vector<AppTarget>& targets, const Selection& previousSelection,
             const KeptTicks& kept, const ScanPublisher& publish,
             const std::function<bool()>& stopped = {});

// Runs `work` on a thread of its own at the lowest CPU priority (nice 19, SCHED_IDLE) and idle
// I/O priority, and waits for it: the calling thread keeps its own priorities.
void runAtIdlePriority(const std::function<void()>& work);

class Scanner : public QObject {
    Q_OBJECT
  public:
    // Lives on the main thread, like the model it writes. With `settings`, rows the model does
    // not hold take the ticks kept there (and the catalogue's first-seen ticks); without, they
    // come ticked.
    Scanner(UIModel& model, std::vector<AppTarget> targets, SettingsStore* settings = nullptr,
            QObject* parent = nullptr);
    // Drops scans still queued and waits for the one being measured; its results are dropped.
    ~Scanner() override;

    // Main thread: opens a new generation, raises `scanning`, remembers the ticks and queues the
    // measuring on "com.sweepkin.scan". Only the latest generation ever reaches the model.
    void startScan();

    // A watch measurement: the same measuring on the same queue, but at idle priorities, skipped
    // when `skip` (asked there) says so, given up once a newer scan starts, and publishing only
    // its final list; it leaves `scanning` alone. `done` runs here after that publication.
    void startWatchScan(std::function<bool()> skip, std::function<void()> done);

    qint64 scanGeneration() const { return scanGeneration_; }
    // Whether a scan is being measured or waits on the queue.
    bool busy() const { return monitorQueue_.activeThreadCount() > 0; }

    // Blocks until the scan queue is empty. Publications are still delivered by the event loop.
    void waitForIdle();

  signals:
    // The final list of a scan that was not superseded has reached the model.
    void measured();
    // The same moment, saying whether the list was the watch's (for the kept history).
    void measuredBy(bool watch);

  private:
    void queueScan(bool watch, std::function<bool()> skip, std::function<void()> done);
    void publish(qint64 generation, const QVector<CacheRow>& rows, bool final, bool watch,
                 const std::function<void()>& done);

    UIModel& model_;
    const std::vector<AppTarget> targets_;
    SettingsStore* settings_;
    const QSet<QString> startUnticked_;
    qint64 scanGeneration_ = 0;
    // The latest generation, for a watch measurement to see on the queue that it is superseded.
    std::shared_ptr<std::atomic<qint64>> latestGeneration_;
    QThreadPool monitorQueue_;
};

}  // namespace sweepkin
