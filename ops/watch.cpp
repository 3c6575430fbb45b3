#include "ops/watch.h"

#include <algorithm>

#include "ops/size_text.h"

namespace sweepkin {

namespace {

constexpr qint64 kDay = 24 * 60 * 60;

}  // namespace

QString trayToolTip(qint64 totalBytes, const QDateTime& measuredAt) {
    return QStringLiteral("Sweepkin — %1 of caches · measured %2")
        .arg(sizeText(totalBytes), measuredAt.toString(QStringLiteral("HH:mm")));
}

bool growthNoticeDue(qint64 tickedBytes, qint64 freeBytes, qint64 diskBytes, qint64 threshold,
                     const NoticeHistory& last, const QDateTime& now) {
    if (threshold <= 0) return false;
    const bool lowDisk = freeBytes * 10 < diskBytes && tickedBytes >= kLowDiskNotifyBytes;
    if (tickedBytes < threshold && !lowDisk) return false;
    if (!last.at) return true;
    const qint64 since = last.at->secsTo(now);
    if (since < kDay) return false;
    const bool similar = last.bytes && qAbs(tickedBytes - *last.bytes) * 10 <= *last.bytes;
    return !similar || since >= 7 * kDay;
}

Notice growthNotice(const QVector<CacheRow>& rows) {
    QVector<CacheRow> ticked;
    qint64 total = 0;
    for (const CacheRow& row : rows) {
        if (!row.selected) continue;
        ticked << row;
        total += row.size.value_or(0);
    }
    std::stable_sort(ticked.begin(), ticked.end(), [](const CacheRow& a, const CacheRow& b) {
        return a.size.value_or(0) > b.size.value_or(0);
    });
    QStringList largest;
    for (const CacheRow& row : ticked.mid(0, 3)) {
        largest << row.name + QLatin1Char(' ') + sizeText(row.size.value_or(0));
    }
    return {sizeText(total) + QStringLiteral(" of caches could be cleaned"),
            largest.join(QStringLiteral(", ")),
            {{QStringLiteral("review"), QStringLiteral("Review")},
             {QStringLiteral("not-now"), QStringLiteral("Not now")}}};
}

Notice cleanNotice(const CleanOutcome& outcome) {
    QStringList cleaned, skipped;
    for (const auto& [name, freed] : outcome.cleaned) {
        cleaned << QString::fromStdString(name) + QLatin1Char(' ') + sizeText(freed);
    }
    for (const std::string& name : outcome.skipped) {
        skipped << QString::fromStdString(name) + QStringLiteral(" — running");
    }
    for (const std::string& name : outcome.inUse) {
        skipped << QString::fromStdString(name) + QStringLiteral(" — in use");
    }
    QStringList body;
    if (!cleaned.isEmpty())
        body << QStringLiteral("Cleaned: ") + cleaned.join(QStringLiteral(", "));
    if (!skipped.isEmpty())
        body << QStringLiteral("Skipped: ") + skipped.join(QStringLiteral(", "));
    return {QStringLiteral("Sweepkin freed ") + sizeText(outcome.cleared),
            body.join(QLatin1Char('\n')),
            {{QStringLiteral("show-report"), QStringLiteral("Show report")}}};
}

QStringList scheduledCleanRows(const QVector<CacheRow>& rows, const QSet<QString>& seen,
                               qint64 days, const std::optional<QDateTime>& lastClean,
                               const QDateTime& now) {
    if (days <= 0 || (lastClean && lastClean->secsTo(now) < days * kDay)) return {};
    QStringList ids;
    for (const CacheRow& row : rows) {
        if (row.selected && seen.contains(row.id)) ids << row.id;
    }
    return ids;
}

bool scheduledCleanAllowed(const SettingsStore& settings) {
    const bool lastCleanReadable =
        !settings.contains(keys::lastClean) || settings.dateValue(keys::lastClean).has_value();
    return !watchDisabled(settings) && !settings.problem() && !settings.ticksUnsaved() &&
           lastCleanReadable && keptTicks(settings, {}).trusted;
}

QString scheduledCleanNote(const SettingsStore& settings, const QDateTime& now) {
    const qint64 days = autoCleanDays(settings);
    if (days == 0) {
        return autoCleanDaysInvalid(settings)
                   ? QStringLiteral("Off: the stored choice is not 0, 7 or 30 days.")
                   : QString();
    }
    if (watchDisabled(settings))
        return QStringLiteral("Nothing is cleaned automatically while the watch is off.");
    if (settings.problem() || settings.ticksUnsaved())
        return QStringLiteral(
            "Nothing is cleaned automatically while the settings cannot be saved.");
    if (!scheduledCleanAllowed(settings)) {
        return QStringLiteral(
            "Nothing is cleaned automatically until the panel has shown you the list again.");
    }
    const auto last = settings.dateValue(keys::lastClean);
    if (!last || last->addDays(days) <= now)
        return QStringLiteral("Next clean: at the next measurement.");
    return QStringLiteral("Next clean: not before ") +
           last->addDays(days).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) +
           QLatin1Char('.');
}

Watch::Watch(WatchContext context, std::chrono::milliseconds firstDelay,
             std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent),
      ctx_(std::move(context)),
      firstDelay_(firstDelay),
      interval_(interval),
      startedAt_(ctx_.now()) {
    connect(&timer_, &QTimer::timeout, this, [this] {
        timer_.setInterval(interval_);
        measure();
    });
}

void Watch::start() {
    timer_.start(firstDelay_);
}

void Watch::measure() {
    // A scan still in flight (the panel's, just closed, or a slow turn of the watch's own at idle
    // priority) is as fresh, and superseding it could leave nothing measured at all.
    if (watchDisabled(ctx_.settings) || ctx_.model.cleaning() || ctx_.model.scanning() ||
        ctx_.scanner.busy() || ctx_.panelOpen()) {
        return;
    }
    ctx_.scanner.startWatchScan(ctx_.onBattery, [this] { measured(); });
}

void Watch::measured() {
    if (ctx_.model.cleaning() || ctx_.panelOpen()) return;
    const QDateTime now = ctx_.now();
    const QVector<CacheRow> rows = ctx_.model.rows();
    SettingsStore& settings = ctx_.settings;

    // An unattended clean never comes right after a login.
    if (startedAt_.msecsTo(now) >= firstDelay_.count() && scheduledCleanAllowed(settings)) {
        const QStringList due =
            scheduledCleanRows(rows, keptTicks(settings, {}).seen, autoCleanDays(settings),
                               settings.dateValue(keys::lastClean), now);
        // A store that cannot take this write cannot take the clean's `lastClean` either, and
        // the clean would come again at every start.
        if (!due.isEmpty()) settings.setDate(keys::autoCleanStarted, now);
        if (!due.isEmpty() && !settings.problem()) {
            ctx_.cleanRun.cleanAutomatically(due, [this](const CleanOutcome& outcome) {
                // Always sent, so that no unattended clean goes unseen.
                ctx_.notices.send(cleanNotice(outcome), [this](const QString& key) {
                    if (key == QLatin1String("show-report") && ctx_.showReport) ctx_.showReport();
                });
            });
            return;
        }
    }

    const qint64 ticked = ctx_.model.selectedBytes();
    const DiskSpace disk = ctx_.disk();
    const NoticeHistory last{settings.optionalInt(keys::lastNoticeBytes),
                             settings.dateValue(keys::lastNotice)};
    const qint64 threshold = settings.optionalInt(keys::notifyBytes).value_or(kDefaultNotifyBytes);
    if (!growthNoticeDue(ticked, disk.free, disk.total, threshold, last, now)) return;
    Notice notice = growthNotice(rows);
    if (const QString grew = ctx_.grewMost ? ctx_.grewMost(last.at) : QString(); !grew.isEmpty()) {
        notice.body += QLatin1Char('\n') + grew;
    }
    settings.setDate(keys::lastNotice, now);
    settings.setInt(keys::lastNoticeBytes, ticked);
    ctx_.notices.send(notice, [this](const QString& key) {
        if (key == QLatin1String("review") && ctx_.review) ctx_.review();
    });
}

}  // namespace sweepkin
