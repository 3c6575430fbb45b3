#pragma once
// The kept history of cache sizes: one record per measurement (the panel's scan, the watch's
// turn) and per clean, in an SQLite file written on a queue of its own. Nothing in it is ever
// sent anywhere, and no failure of it stops a scan, a clean, the report or the log.

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QThreadPool>
#include <QVector>
#include <functional>
#include <optional>
#include <string>

#include "engine/catalogue/app_target.h"

namespace sweepkin {

// What made a record.
enum class HistoryKind { Scan, Watch, Clean };

// "scan", "watch", "clean".
QString historyKindName(HistoryKind kind);

struct HistoryRecord {
    QDateTime at;  // UTC, to the second
    HistoryKind kind = HistoryKind::Scan;
    QMap<QString, qint64> bytes;  // each row's bytes by row id
    QMap<QString, qint64> freed;  // a clean's: what each row freed
    // The cleans the record stands for: 1 for a clean; a thinned day's record keeps the sum of
    // that day's cleans and what they freed, so "freed so far" never shrinks.
    int cleans = 0;

    bool operator==(const HistoryRecord&) const = default;
};

// Records older than this many days are thinned to one a day, older than the second dropped.
inline constexpr int kHistoryFullDays = 30;
inline constexpr int kHistoryKeptDays = 400;

// `records` (oldest first) as the store keeps them once `now` has come: none older than
// kHistoryKeptDays; before kHistoryFullDays, one per UTC day, the day's last measurement (else
// its last record), holding the freed bytes and the number of all the day's cleans.
QVector<HistoryRecord> thinnedHistory(const QVector<HistoryRecord>& records, const QDateTime& now);

// Reads the store at `path` without writing anything (no journal, no new file): the records
// oldest first; nothing when there is no store; an error text when it cannot be read.
struct HistoryRead {
    QVector<HistoryRecord> records;
    QString error;
};
HistoryRead readHistoryFile(const QString& path);

class HistoryStore {
  public:
    // `say` gets one line for the log when the store had to be moved aside or cannot be written;
    // it is called from the store's queue, at most once per kind of trouble. May be empty.
    HistoryStore(QString path, std::function<void(const QString&)> say);
    // Writes what is still queued, then closes the file.
    ~HistoryStore();

    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Queues the record and returns at once; callable from any thread. Thins the store once the
    // record's day is new to it.
    void add(HistoryRecord record);
    // Reads every record on the queue, after what was added before, and hands them (oldest
    // first) to `done` on the queue's thread.
    void read(std::function<void(QVector<HistoryRecord>)> done);
    // The same, waiting for the answer.
    QVector<HistoryRecord> readNow();
    // Blocks until everything queued so far is written.
    void waitForIdle();

    const QString& path() const { return path_; }

  private:
    struct Connection;
    Connection& connection();

    const QString path_;
    const std::function<void(const QString&)> say_;
    const QString connectionName_;
    std::unique_ptr<Connection> connection_;  // used on the queue's thread only
    QThreadPool queue_;
};

}  // namespace sweepkin
