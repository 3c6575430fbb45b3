#include "ops/scan.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include "engine/fs/sizes.h"

namespace sweepkin {

void runScan(const std::vector<AppTarget>& targets, const Selection& previousSelection,
             const ScanPublisher& publish) {
    QVector<CacheRow> rows;
    Resolver resolver;  // the roots, opened once for the whole scan
    for (const AppTarget& target : targets) {
        const std::int64_t total = pathsSize(resolver.items(target.locations));
        if (total < kScanRowThreshold) continue;
        const QString id = QString::fromStdString(target.name);
        // Rows the user has not seen before come ticked; an unticked row stays unticked.
        rows.push_back(CacheRow{id, total, previousSelection.value(id, true)});
        publish(rows, false);
    }
    publish(rows, true);
}

Scanner::Scanner(UIModel& model, std::vector<AppTarget> targets, QObject* parent)
    : QObject(parent), model_(model), targets_(std::move(targets)) {
    monitorQueue_.setObjectName(QStringLiteral("com.sweepkin.scan"));
    monitorQueue_.setMaxThreadCount(1);
    monitorQueue_.setThreadPriority(QThread::LowPriority);
}

Scanner::~Scanner() {
    monitorQueue_.clear();
    monitorQueue_.waitForDone();
}

void Scanner::startScan() {
    const qint64 generation = ++scanGeneration_;
    model_.setScanning(true);

    Selection previousSelection;
    for (const CacheRow& row : model_.rows()) previousSelection.insert(row.id, row.selected);

    // The queue's thread only reads its own copies; everything else happens back on this thread.
    QPointer<Scanner> self(this);
    monitorQueue_.start([self, targets = targets_, previousSelection, generation] {
        runScan(targets, previousSelection,
                [self, generation](const QVector<CacheRow>& rows, bool final) {
                    // Queued to the application object, so the call survives the scanner's
                    // destruction and the pointer is only looked at on the main thread.
                    QMetaObject::invokeMethod(
                        QCoreApplication::instance(),
                        [self, generation, rows, final] {
                            if (self) self->publish(generation, rows, final);
                        },
                        Qt::QueuedConnection);
                });
    });
}

void Scanner::publish(qint64 generation, const QVector<CacheRow>& rows, bool final) {
    if (generation != scanGeneration_) return;  // a newer scan has started since
    model_.setRows(rows);
    if (final) model_.setScanning(false);
}

void Scanner::waitForIdle() {
    monitorQueue_.waitForDone();
}

}  // namespace sweepkin
