#include "ops/history_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>
#include <QVariant>
#include <algorithm>
#include <future>
#include <limits>

namespace sweepkin {

namespace {

constexpr qint64 kDaySecs = 24 * 60 * 60;

// Row ids are one table apart from the sizes, so a year of records stays small.
const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS records(id INTEGER PRIMARY KEY, at INTEGER NOT NULL, "
    "kind TEXT NOT NULL, cleans INTEGER NOT NULL DEFAULT 0)",
    "CREATE INDEX IF NOT EXISTS records_at ON records(at)",
    "CREATE TABLE IF NOT EXISTS rows(n INTEGER PRIMARY KEY, id TEXT NOT NULL UNIQUE)",
    "CREATE TABLE IF NOT EXISTS sizes(record INTEGER NOT NULL, row INTEGER NOT NULL, "
    "bytes INTEGER, freed INTEGER, PRIMARY KEY(record, row)) WITHOUT ROWID",
    // "thinned": records before this time (seconds) are thinned already.
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL)",
};

std::optional<HistoryKind> kindFromName(const QString& name) {
    for (HistoryKind kind : {HistoryKind::Scan, HistoryKind::Watch, HistoryKind::Clean}) {
        if (historyKindName(kind) == name) return kind;
    }
    return std::nullopt;
}

bool isMeasurement(const HistoryRecord& record) {
    return record.kind != HistoryKind::Clean;
}

// For each record: nothing when thinning drops it, else what it becomes.
std::vector<std::optional<HistoryRecord>> thinPlan(const QVector<HistoryRecord>& records,
                                                   const QDateTime& now) {
    std::vector<std::optional<HistoryRecord>> plan(records.begin(), records.end());
    const qint64 nowSecs = now.toSecsSinceEpoch();
    qsizetype i = 0;
    while (i < records.size()) {
        const qint64 at = records[i].at.toSecsSinceEpoch();
        if (at >= nowSecs - kHistoryFullDays * kDaySecs) break;
        const qint64 day = at / kDaySecs;  // UTC days
        qsizetype end = i;
        while (end < records.size() && records[end].at.toSecsSinceEpoch() / kDaySecs == day &&
               records[end].at.toSecsSinceEpoch() < nowSecs - kHistoryFullDays * kDaySecs) {
            ++end;
        }
        if (at < nowSecs - kHistoryKeptDays * kDaySecs) {
            for (qsizetype k = i; k < end; ++k) plan[k].reset();
            i = end;
            continue;
        }
        qsizetype keep = end - 1;
        for (qsizetype k = end - 1; k >= i; --k) {
            if (isMeasurement(records[k])) {
                keep = k;
                break;
            }
        }
        HistoryRecord kept = records[keep];
        kept.freed.clear();
        kept.cleans = 0;
        for (qsizetype k = i; k < end; ++k) {
            kept.cleans += records[k].cleans;
            for (auto it = records[k].freed.begin(); it != records[k].freed.end(); ++it) {
                kept.freed[it.key()] += it.value();
            }
            plan[k].reset();
        }
        plan[keep] = kept;
        i = end;
    }
    return plan;
}

bool exec(QSqlQuery& query, const QString& text) {
    return query.exec(text);
}

// The records of `db` at `from` or later and before `before` (all of them by default), with
// their keys, oldest first.
bool loadRecords(QSqlDatabase& db, QVector<qint64>* keys, QVector<HistoryRecord>* records,
                 qint64 from = std::numeric_limits<qint64>::min(),
                 qint64 before = std::numeric_limits<qint64>::max()) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const QString where = QStringLiteral(" WHERE at >= %1 AND at < %2").arg(from).arg(before);
    if (!query.exec(QStringLiteral("SELECT id, at, kind, cleans FROM records") + where +
                    QStringLiteral(" ORDER BY at, id"))) {
        return false;
    }
    QHash<qint64, qsizetype> index;
    while (query.next()) {
        const std::optional<HistoryKind> kind = kindFromName(query.value(2).toString());
        if (!kind) continue;
        HistoryRecord record;
        record.at = QDateTime::fromSecsSinceEpoch(query.value(1).toLongLong(), Qt::UTC);
        record.kind = *kind;
        record.cleans = query.value(3).toInt();
        index.insert(query.value(0).toLongLong(), records->size());
        keys->push_back(query.value(0).toLongLong());
        records->push_back(record);
    }
    QSqlQuery sizes(db);
    sizes.setForwardOnly(true);
    if (!sizes.exec(
            QStringLiteral("SELECT s.record, r.id, s.bytes, s.freed FROM sizes s JOIN rows "
                           "r ON r.n = s.row") +
            QStringLiteral(" JOIN records c ON c.id = s.record WHERE c.at >= %1 AND c.at < %2")
                .arg(from)
                .arg(before))) {
        return false;
    }
    while (sizes.next()) {
        const auto it = index.constFind(sizes.value(0).toLongLong());
        if (it == index.constEnd()) continue;
        HistoryRecord& record = (*records)[*it];
        const QString id = sizes.value(1).toString();
        if (!sizes.value(2).isNull()) record.bytes.insert(id, sizes.value(2).toLongLong());
        if (!sizes.value(3).isNull()) record.freed.insert(id, sizes.value(3).toLongLong());
    }
    return true;
}

}  // namespace

QString historyKindName(HistoryKind kind) {
    switch (kind) {
        case HistoryKind::Scan:
            return QStringLiteral("scan");
        case HistoryKind::Watch:
            return QStringLiteral("watch");
        case HistoryKind::Clean:
            break;
    }
    return QStringLiteral("clean");
}

QVector<HistoryRecord> thinnedHistory(const QVector<HistoryRecord>& records, const QDateTime& now) {
    QVector<HistoryRecord> kept;
    for (const auto& record : thinPlan(records, now)) {
        if (record) kept.push_back(*record);
    }
    return kept;
}

HistoryRead readHistoryFile(const QString& path) {
    if (!QFileInfo::exists(path)) return {};
    const QString name = QStringLiteral("sweepkin-history-read-") + QUuid::createUuid().toString();
    HistoryRead result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        QVector<qint64> keys;
        if (!db.open() || !loadRecords(db, &keys, &result.records)) {
            result.error = db.lastError().text();
            if (result.error.trimmed().isEmpty()) result.error = QStringLiteral("not a history");
            result.records.clear();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

// The open store, on the queue's thread.
struct HistoryStore::Connection {
    QSqlDatabase db;
    QThread* thread = nullptr;
    bool usable = false;
    qint64 thinnedDay = -1;
    std::optional<qint64> thinnedUpTo;  // records before this were thinned
    bool saidUnwritable = false;
    QHash<QString, qint64> rowNumbers;
};

HistoryStore::HistoryStore(QString path, std::function<void(const QString&)> say)
    : path_(std::move(path)),
      say_(say ? std::move(say) : [](const QString&) {}),
      connectionName_(QStringLiteral("sweepkin-history-") + QUuid::createUuid().toString()),
      connection_(std::make_unique<Connection>()) {
    queue_.setObjectName(QStringLiteral("com.sweepkin.history"));
    queue_.setMaxThreadCount(1);
    queue_.setExpiryTimeout(-1);  // one thread for the store's life: the connection belongs to it
}

HistoryStore::~HistoryStore() {
    queue_.start([this] {
        if (connection_->thread) {
            connection_->db.close();
            connection_->db = QSqlDatabase();
            QSqlDatabase::removeDatabase(connectionName_);
        }
    });
    queue_.waitForDone();
}

namespace {
// Opens `db` at `path` with the schema in place and the file whole.
bool openWhole(QSqlDatabase& db, const QString& path) {
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    if (!db.open()) return false;
    QSqlQuery query(db);
    if (!exec(query, QStringLiteral("PRAGMA quick_check")) || !query.next() ||
        query.value(0).toString() != QLatin1String("ok")) {
        return false;
    }
    query.finish();
    // A few pages are all a record needs; the tray should not carry SQLite's default 2 MB cache.
    if (!exec(query, QStringLiteral("PRAGMA cache_size = -64"))) return false;
    for (const char* statement : kSchema) {
        if (!exec(query, QString::fromLatin1(statement))) return false;
    }
    return true;
}
}  // namespace

HistoryStore::Connection& HistoryStore::connection() {
    Connection& c = *connection_;
    if (c.thread == QThread::currentThread()) return c;
    if (c.thread) {  // the queue's thread has been replaced: the old connection goes with it
        c.db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName_);
        c.rowNumbers.clear();
    }
    c.thread = QThread::currentThread();
    c.db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    QDir().mkpath(QFileInfo(path_).path());
    c.usable = openWhole(c.db, path_);
    if (!c.usable && QFileInfo::exists(path_)) {
        // A store that cannot be opened or is damaged goes aside, dated, for a fresh one; its
        // journal too, which would otherwise be played into the new file.
        c.db.close();
        const QString aside =
            path_ + QStringLiteral(".damaged-") +
            QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        const bool moved = QFile::rename(path_, aside);
        QFile::rename(path_ + QStringLiteral("-journal"), aside + QStringLiteral("-journal"));
        if (moved) {
            say_(QStringLiteral("History store was damaged; moved it to %1 and started a new one.")
                     .arg(aside));
            c.usable = openWhole(c.db, path_);
        }
    }
    if (!c.usable && !c.saidUnwritable) {
        c.saidUnwritable = true;
        say_(QStringLiteral("History store %1 cannot be written: %2")
                 .arg(path_, c.db.lastError().text()));
    }
    return c;
}

void HistoryStore::add(HistoryRecord record) {
    queue_.start([this, record = std::move(record)] {
        Connection& c = connection();
        if (!c.usable) return;
        QSqlDatabase& db = c.db;
        const auto rowNumber = [&](const QString& id) -> std::optional<qint64> {
            if (const auto it = c.rowNumbers.constFind(id); it != c.rowNumbers.constEnd()) {
                return *it;
            }
            QSqlQuery q(db);
            q.prepare(QStringLiteral("INSERT OR IGNORE INTO rows(id) VALUES(?)"));
            q.addBindValue(id);
            if (!q.exec()) return std::nullopt;
            q.prepare(QStringLiteral("SELECT n FROM rows WHERE id = ?"));
            q.addBindValue(id);
            if (!q.exec() || !q.next()) return std::nullopt;
            c.rowNumbers.insert(id, q.value(0).toLongLong());
            return q.value(0).toLongLong();
        };
        const auto writeSizes = [&](qint64 key, const HistoryRecord& r) {
            QSqlQuery q(db);
            q.prepare(
                QStringLiteral("INSERT OR REPLACE INTO sizes(record, row, bytes, freed) "
                               "VALUES(?, ?, ?, ?)"));
            QStringList ids = r.bytes.keys();
            for (const QString& id : r.freed.keys()) {
                if (!r.bytes.contains(id)) ids << id;
            }
            for (const QString& id : ids) {
                const std::optional<qint64> n = rowNumber(id);
                if (!n) return false;
                q.addBindValue(key);
                q.addBindValue(*n);
                q.addBindValue(r.bytes.contains(id) ? QVariant(r.bytes[id]) : QVariant());
                q.addBindValue(r.freed.contains(id) ? QVariant(r.freed[id]) : QVariant());
                if (!q.exec()) return false;
            }
            return true;
        };

        bool ok = db.transaction();
        QSqlQuery insert(db);
        insert.prepare(QStringLiteral("INSERT INTO records(at, kind, cleans) VALUES(?, ?, ?)"));
        insert.addBindValue(record.at.toSecsSinceEpoch());
        insert.addBindValue(historyKindName(record.kind));
        insert.addBindValue(record.cleans);
        ok = ok && insert.exec() && writeSizes(insert.lastInsertId().toLongLong(), record);

        // Once a day: thin what has grown old since.
        const qint64 day = record.at.toSecsSinceEpoch() / kDaySecs;
        if (ok && day != c.thinnedDay) {
            // Only the days that crossed the line since the last thinning (all of them the first
            // time), from the start of the day it stopped in.
            const qint64 at = record.at.toSecsSinceEpoch();
            const qint64 cutoff = at - kHistoryFullDays * kDaySecs;
            QSqlQuery q(db);
            if (!c.thinnedUpTo &&
                q.exec(QStringLiteral("SELECT value FROM meta WHERE key = "
                                      "'thinned'")) &&
                q.next()) {
                c.thinnedUpTo = q.value(0).toLongLong();
            }
            const qint64 from = std::max(at - kHistoryKeptDays * kDaySecs,
                                         c.thinnedUpTo ? *c.thinnedUpTo / kDaySecs * kDaySecs
                                                       : std::numeric_limits<qint64>::min());
            const QString dropped = QStringLiteral("(SELECT id FROM records WHERE at < %1)")
                                        .arg(at - kHistoryKeptDays * kDaySecs);
            ok = q.exec(QStringLiteral("DELETE FROM sizes WHERE record IN ") + dropped) &&
                 q.exec(QStringLiteral("DELETE FROM records WHERE id IN ") + dropped);
            QVector<qint64> keys;
            QVector<HistoryRecord> old;
            ok = ok && loadRecords(db, &keys, &old, from, cutoff);
            const auto plan = thinPlan(old, record.at);
            for (qsizetype i = 0; ok && i < old.size(); ++i) {
                if (plan[i] && *plan[i] == old[i]) continue;
                q.prepare(QStringLiteral("DELETE FROM sizes WHERE record = ?"));
                q.addBindValue(keys[i]);
                ok = q.exec();
                if (!plan[i]) {
                    q.prepare(QStringLiteral("DELETE FROM records WHERE id = ?"));
                    q.addBindValue(keys[i]);
                    ok = ok && q.exec();
                } else {
                    q.prepare(QStringLiteral("UPDATE records SET cleans = ? WHERE id = ?"));
                    q.addBindValue(plan[i]->cleans);
                    q.addBindValue(keys[i]);
                    ok = ok && q.exec() && writeSizes(keys[i], *plan[i]);
                }
            }
            if (ok) {
                q.prepare(
                    QStringLiteral("INSERT OR REPLACE INTO meta(key, value) VALUES('thinned', ?)"));
                q.addBindValue(cutoff);
                ok = q.exec();
            }
            if (ok) c.thinnedDay = day, c.thinnedUpTo = cutoff;
        }
        if (ok && db.commit()) {
            QSqlQuery(db).exec(QStringLiteral("PRAGMA shrink_memory"));
            return;
        }
        const QString why = db.lastError().text();
        db.rollback();
        c.rowNumbers.clear();
        c.thinnedDay = -1, c.thinnedUpTo.reset();
        if (!c.saidUnwritable) {
            c.saidUnwritable = true;
            say_(QStringLiteral("History store %1 cannot be written: %2").arg(path_, why));
        }
    });
}

void HistoryStore::read(std::function<void(QVector<HistoryRecord>)> done) {
    queue_.start([this, done = std::move(done)] {
        Connection& c = connection();
        QVector<qint64> keys;
        QVector<HistoryRecord> records;
        if (c.usable && !loadRecords(c.db, &keys, &records)) records.clear();
        if (c.usable) QSqlQuery(c.db).exec(QStringLiteral("PRAGMA shrink_memory"));
        done(std::move(records));
    });
}

QVector<HistoryRecord> HistoryStore::readNow() {
    std::promise<QVector<HistoryRecord>> answer;
    std::future<QVector<HistoryRecord>> result = answer.get_future();
    read([&answer](QVector<HistoryRecord> records) { answer.set_value(std::move(records)); });
    return result.get();
}

void HistoryStore::waitForIdle() {
    // Not the pool's waitForDone(): that ends its thread, and the connection belongs to it.
    std::promise<void> done;
    queue_.start([&done] { done.set_value(); });
    done.get_future().wait();
}

}  // namespace sweepkin
