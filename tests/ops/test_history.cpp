// The kept history: what thinning keeps, the store on disk (also damaged or out of reach), and
// what the page and the growth notice read from it.

#include <QDir>
#include <QTest>

#include "ops/history_summary.h"
#include "tests/support/tree.h"

using namespace sweepkin;
using namespace sweepkin::fixtures;

namespace {

const QDateTime kNow = QDateTime(QDate(2026, 6, 1), QTime(12, 0), Qt::UTC);

HistoryRecord rec(double daysAgo, HistoryKind kind, QMap<QString, qint64> bytes,
                  QMap<QString, qint64> freed = {}) {
    return {kNow.addSecs(qint64(-daysAgo * 86400)), kind, std::move(bytes), std::move(freed),
            kind == HistoryKind::Clean ? 1 : 0};
}

}  // namespace

class TestHistory : public QObject {
    Q_OBJECT

  private slots:
    // Past 400 days nothing stays; from 30 days back one a day, the day's last measurement with
    // all the day's cleans folded in; the last 30 days stay as they are.
    void thinning() {
        using enum HistoryKind;
        const QVector<HistoryRecord> records = {
            rec(401, Watch, {{"a", 1}}),
            rec(40.4, Scan, {{"a", 2}}),
            rec(40.3, Clean, {{"a", 3}}, {{"a", 30}}),
            rec(40.2, Watch, {{"a", 4}}),
            rec(40.1, Clean, {{"a", 5}}, {{"a", 50}, {"b", 7}}),
            rec(35, Clean, {{"b", 6}}, {{"b", 60}}),
            rec(29, Scan, {{"a", 8}}),
            rec(29, Scan, {{"a", 9}}),
        };
        HistoryRecord day40 = records[3];
        day40.freed = {{"a", 80}, {"b", 7}};
        day40.cleans = 2;
        QCOMPARE(thinnedHistory(records, kNow),
                 QVector<HistoryRecord>({day40, records[5], records[6], records[7]}));
    }

    // Records come back as written, in time order, thinned once their day has come; a damaged
    // store is moved aside (dated) for a fresh one and said once; a store that cannot be made
    // takes records without complaint beyond one line.
    void store() {
        ScratchDir dir;
        QStringList said;
        const auto say = [&said](const QString& line) { said << line.section(':', 0, 0); };
        const QString path = QString::fromStdString(dir / "state/history.sqlite");
        const QVector<HistoryRecord> records = {
            rec(45.5, HistoryKind::Watch, {{"google-chrome", 5'000'000'000}}),
            rec(45.2, HistoryKind::Watch, {{"google-chrome", 6}}),
            rec(1, HistoryKind::Clean, {{"spotify", 9}, {"npm", 1}}, {{"spotify", 9}}),
            rec(0, HistoryKind::Scan, {{"npm", 2}})};
        {
            HistoryStore store(path, say);
            for (const HistoryRecord& r : records) store.add(r);
            QCOMPARE(store.readNow(), thinnedHistory(records, kNow));
        }
        QCOMPARE(readHistoryFile(path).records, thinnedHistory(records, kNow));
        QCOMPARE(said, QStringList());

        writeText(path.toStdString(), std::string(4096, 'x'));
        {
            HistoryStore store(path, say);
            store.add(records[3]);
            QCOMPARE(store.readNow(), QVector<HistoryRecord>{records[3]});
        }
        const QString state = QString::fromStdString(dir / "state");
        const QStringList aside = QDir(state).entryList({"history.sqlite.damaged-*"});
        QCOMPARE(aside.size(), 1);
        QCOMPARE(said, QStringList{"History store was damaged; moved it to " + state + "/" +
                                   aside.front() + " and started a new one."});

        said.clear();
        writeText(dir / "blocked", "a file where the folder should be");
        HistoryStore blocked(QString::fromStdString(dir / "blocked/history.sqlite"), say);
        blocked.add(records[0]);
        blocked.add(records[1]);
        QCOMPARE(blocked.readNow(), QVector<HistoryRecord>());
        QCOMPARE(said, QStringList{"History store " + blocked.path() + " cannot be written"});
        QVERIFY(!readHistoryFile(QString::fromStdString(dir / "blocked")).error.isEmpty());
    }

    // Growth counts what cleans in between gave back; the page's period and totals; the notice
    // goes by the measurement its last notice saw.
    void whatTheHistorySays() {
        using enum HistoryKind;
        const QVector<HistoryRecord> records = {
            rec(100, Clean, {{"a", 9}}, {{"a", 9}}),
            rec(20, Watch, {{"a", 100}, {"b", 50}, {"c", 70}}),
            rec(10, Clean, {{"a", 400}, {"b", 300}}, {{"a", 400}}),
            rec(9, Scan, {{"b", 300}, {"c", 60}}),
            rec(1, Watch, {{"b", 310}, {"d", 5}}),
        };
        const HistorySummary month = summarizeHistory(records, kNow, 30);
        QCOMPARE(month.grewMost, QVector<RowGrowth>({{"a", 300}, {"b", 260}, {"d", 5}}));
        QCOMPARE(month.totals.size(), 3);
        QCOMPARE(month.totals.back().second, 315);
        QCOMPARE(month.cleans, (QVector<std::pair<QDateTime, qint64>>{{records[2].at, 400}}));
        QCOMPARE(freedSoFarText(month.freedSoFar, month.cleansSoFar),
                 QString("Freed so far: 409 B in 2 cleans"));
        QCOMPARE(summarizeHistory(records, kNow, 5).grewMost, QVector<RowGrowth>());
        const std::vector<AppTarget> targets = {{"b", "Brave", {}, {}}};
        QCOMPARE(grewMostLine(records, records[3].at, targets), QString("Grew most: Brave +10 B"));
        QCOMPARE(grewMostLine(records, std::nullopt, targets), QString("Grew most: a +300 B"));
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "test_history.moc"
