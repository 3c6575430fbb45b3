#pragma once
// What the kept history says: the records a scan or a clean makes, the totals over a period, the
// rows that grew most and what the cleans gave back.

#include <QDateTime>
#include <QString>
#include <QVector>
#include <functional>
#include <utility>
#include <vector>

#include "engine/catalogue/app_target.h"
#include "ops/history_store.h"
#include "ops/ui_model.h"

namespace sweepkin {

struct CleanOutcome;
class Scanner;

// From now on keeps a record of each final list `scanner` publishes into `model`, timed by `now`.
void recordMeasurements(Scanner& scanner, const UIModel& model, HistoryStore& store,
                        std::function<QDateTime()> now);

// A measurement's record: the panel's rows at `at`.
HistoryRecord measurementRecord(const QVector<CacheRow>& rows, HistoryKind kind,
                                const QDateTime& at);
// A clean's record: the rows' bytes before it (`rows`) and what each cleaned row freed.
HistoryRecord cleanRecord(const QVector<CacheRow>& rows, const CleanOutcome& outcome,
                          const QDateTime& at, const std::vector<AppTarget>& targets);

// The display name of the row `id`, the id itself when the catalogue has no such row.
QString rowName(const std::vector<AppTarget>& targets, const QString& id);

struct RowGrowth {
    QString id;
    qint64 bytes = 0;
    bool operator==(const RowGrowth&) const = default;
};

// How much each row grew over `records` (oldest first): its last measured bytes less its first,
// plus what cleans in between freed from it. Largest first, rows that grew only.
QVector<RowGrowth> rowGrowth(const QVector<HistoryRecord>& records);

struct HistorySummary {
    QVector<std::pair<QDateTime, qint64>> totals;  // each measurement's total in the period
    QVector<std::pair<QDateTime, qint64>> cleans;  // each clean in the period and what it freed
    QVector<RowGrowth> grewMost;                   // at most five
    qint64 freedSoFar = 0;                         // over everything kept
    int cleansSoFar = 0;
};

// The `days` up to `now`.
HistorySummary summarizeHistory(const QVector<HistoryRecord>& records, const QDateTime& now,
                                int days);

// The row that grew most since the measurement a notice at `since` went by (all records when
// there was none), as "Grew most: Google Chrome +1.20 GB"; empty when none grew.
QString grewMostLine(const QVector<HistoryRecord>& records, const std::optional<QDateTime>& since,
                     const std::vector<AppTarget>& targets);

// "Google Chrome +1.20 GB".
QString growthText(const QString& name, qint64 bytes);
// "Freed so far: 23.40 GB in 14 cleans".
QString freedSoFarText(qint64 bytes, int cleans);

}  // namespace sweepkin
