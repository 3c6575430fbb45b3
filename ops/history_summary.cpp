#include "ops/history_summary.h"

#include <algorithm>

#include "engine/fs/sizes.h"
#include "engine/fs/tree_walk.h"
#include "ops/clean_run.h"
#include "ops/scan.h"
#include "ops/size_text.h"

namespace sweepkin {

namespace {

// A clean's outcome names its rows by display name; the history keeps their ids.
QString idFor(const std::vector<AppTarget>& targets, const std::string& name) {
    for (const AppTarget& target : targets) {
        if (target.name == name) return QString::fromStdString(target.id);
    }
    return QString::fromStdString(name);
}

qint64 total(const HistoryRecord& record) {
    qint64 sum = 0;
    for (qint64 bytes : record.bytes) sum = addBytes(sum, bytes);
    return sum;
}

qint64 freedBy(const HistoryRecord& record) {
    qint64 sum = 0;
    for (qint64 bytes : record.freed) sum = addBytes(sum, bytes);
    return sum;
}

}  // namespace

HistoryRecord measurementRecord(const QVector<CacheRow>& rows, HistoryKind kind,
                                const QDateTime& at) {
    HistoryRecord record{at.toUTC(), kind, {}, {}, 0};
    for (const CacheRow& row : rows) {
        if (row.size) record.bytes.insert(row.id, *row.size);
    }
    return record;
}

HistoryRecord cleanRecord(const QVector<CacheRow>& rows, const CleanOutcome& outcome,
                          const QDateTime& at, const std::vector<AppTarget>& targets) {
    HistoryRecord record = measurementRecord(rows, HistoryKind::Clean, at);
    record.cleans = 1;
    for (const auto& [name, freed] : outcome.cleaned) {
        record.freed.insert(idFor(targets, name), freed);
    }
    return record;
}

void recordMeasurements(Scanner& scanner, const UIModel& model, HistoryStore& store,
                        std::function<QDateTime()> now) {
    QObject::connect(&scanner, &Scanner::measuredBy, &scanner,
                     [&model, &store, now = std::move(now)](bool watch) {
                         store.add(measurementRecord(
                             model.rows(), watch ? HistoryKind::Watch : HistoryKind::Scan, now()));
                     });
}

QString rowName(const std::vector<AppTarget>& targets, const QString& id) {
    for (const AppTarget& target : targets) {
        if (QString::fromStdString(target.id) == id) {
            return QString::fromStdString(target.name);
        }
    }
    return id;
}

QVector<RowGrowth> rowGrowth(const QVector<HistoryRecord>& records) {
    qsizetype first = -1, last = -1;
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (records[i].kind == HistoryKind::Clean) continue;
        if (first < 0) first = i;
        last = i;
    }
    if (first < 0 || first == last) return {};
    QMap<QString, qint64> growth;
    for (auto it = records[last].bytes.begin(); it != records[last].bytes.end(); ++it) {
        growth[it.key()] += it.value();
    }
    for (auto it = records[first].bytes.begin(); it != records[first].bytes.end(); ++it) {
        growth[it.key()] -= it.value();
    }
    // What a clean freed had grown before it went; the first measurement saw it already when
    // the clean came at the same moment or before.
    for (qsizetype i = first + 1; i <= last; ++i) {
        for (auto it = records[i].freed.begin(); it != records[i].freed.end(); ++it) {
            growth[it.key()] += it.value();
        }
    }
    QVector<RowGrowth> grew;
    for (auto it = growth.begin(); it != growth.end(); ++it) {
        if (it.value() > 0) grew.push_back({it.key(), it.value()});
    }
    std::stable_sort(grew.begin(), grew.end(),
                     [](const RowGrowth& a, const RowGrowth& b) { return a.bytes > b.bytes; });
    return grew;
}

HistorySummary summarizeHistory(const QVector<HistoryRecord>& records, const QDateTime& now,
                                int days) {
    HistorySummary summary;
    const QDateTime from = now.addDays(-days);
    QVector<HistoryRecord> period;
    for (const HistoryRecord& record : records) {
        summary.freedSoFar = addBytes(summary.freedSoFar, freedBy(record));
        summary.cleansSoFar += record.cleans;
        if (record.at < from || record.at > now) continue;
        period.push_back(record);
        if (record.kind != HistoryKind::Clean) summary.totals.push_back({record.at, total(record)});
        if (record.cleans > 0) summary.cleans.push_back({record.at, freedBy(record)});
    }
    summary.grewMost = rowGrowth(period).mid(0, 5);
    return summary;
}

QString grewMostLine(const QVector<HistoryRecord>& records, const std::optional<QDateTime>& since,
                     const std::vector<AppTarget>& targets) {
    qsizetype from = 0;
    for (qsizetype i = 0; since && i < records.size(); ++i) {
        if (records[i].at > *since) break;
        if (records[i].kind != HistoryKind::Clean) from = i;
    }
    const QVector<RowGrowth> grew = rowGrowth(records.mid(from));
    if (grew.isEmpty()) return {};
    return QStringLiteral("Grew most: ") +
           growthText(rowName(targets, grew.front().id), grew.front().bytes);
}

QString growthText(const QString& name, qint64 bytes) {
    return name + QStringLiteral(" +") + sizeText(bytes);
}

QString freedSoFarText(qint64 bytes, int cleans) {
    return QStringLiteral("Freed so far: %1 in %2 clean%3")
        .arg(sizeText(bytes))
        .arg(cleans)
        .arg(cleans == 1 ? QString() : QStringLiteral("s"));
}

}  // namespace sweepkin
