#pragma once
// The scan: measures every catalogue entry off the main thread and publishes the growing list of
// panel rows to the UI model, dropping whatever a superseded scan produces.

#include <QHash>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QVector>
#include <functional>
#include <vector>

#include "engine/catalogue/app_target.h"
#include "ops/ui_model.h"

namespace sweepkin {

// A target holding at least this many bytes gets a panel row (1 MB in decimal units).
inline constexpr qint64 kScanRowThreshold = 1'000'000;

// A row's id mapped to its tick, taken from the model when a scan starts.
using Selection = QHash<QString, bool>;

// Called with the rows found so far; `final` is true once, after the last target.
using ScanPublisher = std::function<void(const QVector<CacheRow>& rows, bool final)>;

// Measures the targets in catalogue order (their items, as a clean would remove them) and publishes
// after each row found and once more at the end. A row's tick comes from `previousSelection`; new
// rows are ticked.
void runScan(const std::vector<AppTarget>& targets, const Selection& previousSelection,
             const ScanPublisher& publish);

class Scanner : public QObject {
    Q_OBJECT
  public:
    // Lives on the main thread, like the model it writes.
    Scanner(UIModel& model, std::vector<AppTarget> targets, QObject* parent = nullptr);
    // Drops scans still queued and waits for the one being measured; its results are dropped.
    ~Scanner() override;

    // Main thread: opens a new generation, raises `scanning`, remembers the ticks and queues the
    // measuring on "com.sweepkin.scan". Only the latest generation ever reaches the model.
    void startScan();

    qint64 scanGeneration() const { return scanGeneration_; }

    // Blocks until the scan queue is empty. Publications are still delivered by the event loop.
    void waitForIdle();

  private:
    void publish(qint64 generation, const QVector<CacheRow>& rows, bool final);

    UIModel& model_;
    const std::vector<AppTarget> targets_;
    qint64 scanGeneration_ = 0;
    QThreadPool monitorQueue_;
};

}  // namespace sweepkin
