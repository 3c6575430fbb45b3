#include "ops/scan.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/ioprio.h>
#endif

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <thread>

#include "engine/fs/places.h"
#include "engine/fs/sizes.h"

namespace sweepkin {

namespace {

QSet<QString> idSet(const std::optional<QStringList>& ids) {
    if (!ids) return {};
    return QSet<QString>(ids->begin(), ids->end());
}

// Both priorities belong to the calling thread alone on Linux. A thread cannot raise its CPU
// priority again without privileges, which is why the work gets a thread of its own.
void lowerThisThread() {
#ifdef __linux__
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
    const sched_param param{};
    ::sched_setscheduler(0, SCHED_IDLE, &param);
    // Who 0 with IOPRIO_WHO_PROCESS is the calling thread.
    ::syscall(SYS_ioprio_set, IOPRIO_WHO_PROCESS, 0, IOPRIO_PRIO_VALUE(IOPRIO_CLASS_IDLE, 0));
#endif
}

}  // namespace

bool KeptTicks::tickFor(const QString& id) const {
    if (!trusted || unticked.contains(id)) return false;
    return seen.contains(id) || !startUnticked.contains(id);
}

KeptTicks keptTicks(const SettingsStore& settings, const QSet<QString>& startUnticked) {
    const std::optional<QStringList> unticked = settings.rowList(keys::untickedRows);
    const std::optional<QStringList> seen = settings.rowList(keys::seenRows);
    // Rows seen with no record of which were left unticked: that record was lost.
    const bool untickedLost = seen && !seen->isEmpty() && !settings.contains(keys::untickedRows);
    return {idSet(unticked), idSet(seen), startUnticked,
            unticked && !untickedLost && settings.rowListsTrusted()};
}

void keepTicks(SettingsStore& settings, const QVector<CacheRow>& shown,
               const QStringList& seenNow) {
    const bool trusted = keptTicks(settings, {}).trusted;
    const std::optional<QStringList> seenKept = settings.rowList(keys::seenRows);
    // Lists that cannot be trusted start again from what the panel shows now.
    QStringList seen = trusted ? seenKept.value_or(QStringList()) : QStringList();
    QStringList unticked =
        trusted ? settings.rowList(keys::untickedRows).value_or(QStringList()) : QStringList();
    const QStringList seenBefore = seen, untickedBefore = unticked;
    for (const QString& id : seenNow) {
        if (!seen.contains(id)) seen << id;
    }
    for (const CacheRow& row : shown) {
        if (row.selected) {
            unticked.removeAll(row.id);
        } else if (!unticked.contains(row.id)) {
            unticked << row.id;
        }
    }
    // Both lists are on file once the panel has shown rows, so a missing one means lost; a list
    // that was damaged or not saved is written whole.
    const bool rewrite = !trusted || settings.ticksUnsaved();
    if (rewrite || !seenKept || seen != seenBefore || !settings.contains(keys::seenRows))
        settings.setStringList(keys::seenRows, seen);
    if (rewrite || unticked != untickedBefore || !settings.contains(keys::untickedRows))
        settings.setStringList(keys::untickedRows, unticked);
}

void migrateRowKeys(SettingsStore& settings, const std::vector<AppTarget>& targets) {
    QHash<QString, QString> idOfName;
    for (const AppTarget& target : targets) {
        idOfName.insert(QString::fromStdString(target.name), QString::fromStdString(target.id));
    }
    for (const char* key : {keys::untickedRows, keys::seenRows}) {
        if (settings.rowList(key)) continue;  // already ids (or absent)
        const QStringList before = settings.stringList(key);
        QStringList after;
        for (const QString& entry : before) {
            const QString id = idOfName.value(entry, entry);
            if (!after.contains(id)) after << id;
        }
        // A list with anything else in it stays as it is: it reads as damaged.
        if (after != before && std::all_of(after.begin(), after.end(), isRowId))
            settings.setStringList(key, after);
    }
}

void runScan(const std::vector<AppTarget>& targets, const Selection& previousSelection,
             const KeptTicks& kept, const ScanPublisher& publish,
             const std::function<bool()>& stopped) {
    QVector<CacheRow> rows;
    Resolver resolver(currentPlaces());  // the roots, opened once for the whole scan
    for (const AppTarget& target : targets) {
        if (stopped && stopped()) return;
        const std::int64_t total = pathsSize(resolver.items(target.locations));
        if (total < kScanRowThreshold) continue;
        const QString id = QString::fromStdString(target.id);
        rows.push_back(CacheRow{id, QString::fromStdString(target.name), total,
                                previousSelection.value(id, kept.tickFor(id))});
        publish(rows, false);
    }
    publish(rows, true);
}

void runAtIdlePriority(const std::function<void()>& work) {
    std::thread worker([&work] {
        lowerThisThread();
        work();
    });
    worker.join();
}

namespace {
// The rows whose first sight leaves them unticked, from the catalogue.
QSet<QString> untickedAtFirst(const std::vector<AppTarget>& targets) {
    QSet<QString> names;
    for (const AppTarget& target : targets) {
        if (target.startsUnticked) names.insert(QString::fromStdString(target.id));
    }
    return names;
}
}  // namespace

Scanner::Scanner(UIModel& model, std::vector<AppTarget> targets, SettingsStore* settings,
                 QObject* parent)
    : QObject(parent),
      model_(model),
      targets_(std::move(targets)),
      settings_(settings),
      startUnticked_(untickedAtFirst(targets_)),
      latestGeneration_(std::make_shared<std::atomic<qint64>>(0)) {
    if (settings_) migrateRowKeys(*settings_, targets_);
    monitorQueue_.setObjectName(QStringLiteral("com.sweepkin.scan"));
    monitorQueue_.setMaxThreadCount(1);
    monitorQueue_.setThreadPriority(QThread::LowPriority);
}

Scanner::~Scanner() {
    monitorQueue_.clear();
    monitorQueue_.waitForDone();
}

void Scanner::startScan() {
    queueScan(false, {}, {});
}

void Scanner::startWatchScan(std::function<bool()> skip, std::function<void()> done) {
    queueScan(true, std::move(skip), std::move(done));
}

void Scanner::queueScan(bool watch, std::function<bool()> skip, std::function<void()> done) {
    const qint64 generation = ++scanGeneration_;
    latestGeneration_->store(generation);
    if (!watch) model_.setScanning(true);

    Selection previousSelection;
    for (const CacheRow& row : model_.rows()) previousSelection.insert(row.id, row.selected);
    KeptTicks kept{{}, {}, startUnticked_};
    if (settings_) kept = keptTicks(*settings_, startUnticked_);

    // Queued to the application object, so the call survives the scanner's destruction and the
    // pointer is only looked at on the main thread.
    QPointer<Scanner> self(this);
    ScanPublisher post = [self, generation, watch, done](const QVector<CacheRow>& rows,
                                                         bool final) {
        if (watch && !final) return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, generation, rows, final, watch, done] {
                if (self) self->publish(generation, rows, final, watch, done);
            },
            Qt::QueuedConnection);
    };
    // The queue's thread only reads its own copies; everything else happens back on this thread.
    monitorQueue_.start([targets = targets_, previousSelection, kept, post, watch, generation,
                         skip = std::move(skip), latest = latestGeneration_] {
        const auto superseded = [&] { return watch && latest->load() != generation; };
        const auto measure = [&] { runScan(targets, previousSelection, kept, post, superseded); };
        if (!watch) return measure();
        runAtIdlePriority([&] {
            if (!skip || !skip()) measure();
        });
    });
}

void Scanner::publish(qint64 generation, const QVector<CacheRow>& rows, bool final, bool watch,
                      const std::function<void()>& done) {
    if (generation != scanGeneration_) return;  // a newer scan has started since
    model_.setRows(rows);
    if (!final) return;
    model_.setScanning(false);
    emit measuredBy(watch);
    emit measured();
    if (done) done();
}

void Scanner::waitForIdle() {
    monitorQueue_.waitForDone();
}

}  // namespace sweepkin
