// The scan: which targets become rows, how ticks carry over, and that only the latest scan ever
// reaches the model.

#include "ops/scan.h"
#include "tests/ops/tree.h"

using namespace sweepkin;
using namespace sweepkin::testing;

namespace {

QStringList ids(const QVector<CacheRow>& rows) {
    QStringList out;
    for (const auto& r : rows) out << r.id + (r.selected ? "+" : "-");
    return out;
}

}  // namespace

class TestScan : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    QString at(const QString& rel) const { return dir_->filePath(rel); }
    AppTarget target(const char* name, std::initializer_list<QString> rels) const {
        AppTarget t{name, std::nullopt, {}};
        for (const auto& r : rels) t.paths.push_back(at(r).toStdString());
        return t;
    }

    void waitForScanEnd(Scanner& scanner, UIModel& model) {
        scanner.waitForIdle();
        QTRY_VERIFY_WITH_TIMEOUT(!model.scanning(), 30'000);
    }

  private slots:
    void init() { dir_ = std::make_unique<QTemporaryDir>(); }

    void threshold_data() {
        QTest::addColumn<QList<qint64>>("files");  // sizes of the files in the target's folder
        QTest::addColumn<bool>("listed");
        QTest::newRow("exactly 1,000,000") << QList<qint64>{1'000'000} << true;
        QTest::newRow("999,999") << QList<qint64>{999'999} << false;
        QTest::newRow("split over files") << QList<qint64>{600'000, 400'000} << true;
        QTest::newRow("empty folder") << QList<qint64>{} << false;
        QTest::newRow("well over") << QList<qint64>{3'000'000'000} << true;
    }

    void threshold() {
        QFETCH(QList<qint64>, files);
        QFETCH(bool, listed);
        QVERIFY(QDir().mkpath(at("app/Cache")));
        for (int i = 0; i < files.size(); ++i) {
            QVERIFY(makeFile(at(QStringLiteral("app/Cache/f%1").arg(i)), files[i]));
        }
        const std::vector<AppTarget> targets{target("App", {"app/Cache"}),
                                             target("Not installed", {"nothing/Cache"})};
        QVector<QVector<CacheRow>> published;
        int finals = 0;
        runScan(targets, {}, [&](const QVector<CacheRow>& rows, bool final) {
            published.push_back(rows);
            finals += final;
        });
        QCOMPARE(finals, 1);
        QCOMPARE(published.size(), listed ? 2 : 1);  // once per row found, once at the end
        const QVector<CacheRow> expected =
            listed ? QVector<CacheRow>{CacheRow{
                         "App", std::accumulate(files.begin(), files.end(), qint64(0)), true}}
                   : QVector<CacheRow>{};
        QCOMPARE(published.last(), expected);
    }

    void rowsGrowInCatalogueOrderWithWildcards() {
        QVERIFY(makeFile(at("c/Cache/x"), 2'000'000));
        QVERIFY(makeFile(at("a/Profile 1/Cache/x"), 1'500'000));
        QVERIFY(makeFile(at("a/Default/Cache/x"), 1'500'000));
        QVERIFY(makeFile(at("b/Cache/x"), 10));
        const std::vector<AppTarget> targets{target("Charlie", {"c/Cache"}),
                                             target("Bravo", {"b/Cache"}),
                                             target("Alpha", {"a/*/Cache", "a/Default/Cache"})};
        QVector<QStringList> published;
        runScan(targets, {},
                [&](const QVector<CacheRow>& rows, bool) { published.push_back(ids(rows)); });
        const QVector<QStringList> expected{
            {"Charlie+"}, {"Charlie+", "Alpha+"}, {"Charlie+", "Alpha+"}};
        QCOMPARE(published, expected);
    }

    void ticksCarryOverByRowId() {
        QVERIFY(makeFile(at("a/Cache/x"), 1'000'000));
        QVERIFY(makeFile(at("b/Cache/x"), 1'000'000));
        QVERIFY(makeFile(at("c/Cache/x"), 999'999));
        UIModel model;
        Scanner scanner(
            model, {target("A", {"a/Cache"}), target("B", {"b/Cache"}), target("C", {"c/Cache"})});

        scanner.startScan();
        waitForScanEnd(scanner, model);
        QCOMPARE(ids(model.rows()), QStringList({"A+", "B+"}));  // first scan: all ticked

        model.setRowSelected(1, false);
        QVERIFY(makeFile(at("c/Cache/y"), 1));  // C grows past the threshold
        scanner.startScan();
        waitForScanEnd(scanner, model);
        QCOMPARE(ids(model.rows()), QStringList({"A+", "B-", "C+"}));
    }

    void onlyTheLatestScanPublishes() {
        QVERIFY(makeFile(at("a/Cache/x"), 1'000'000));
        QVERIFY(makeFile(at("b/Cache/x"), 1'000'000));
        UIModel model;
        Scanner scanner(model, {target("A", {"a/Cache"}), target("B", {"b/Cache"})});
        // Every state the model passes through: the one before each write, then the final one.
        QVector<std::pair<QStringList, bool>> states;
        connect(&model, &UIModel::objectWillChange, &model, [&] {
            states.push_back({ids(model.rows()), model.scanning()});
        });

        scanner.startScan();
        // The first scan finishes measuring; its publications wait in the event queue.
        scanner.waitForIdle();
        QVERIFY(QDir(at("b")).removeRecursively());
        scanner.startScan();
        QCOMPARE(scanner.scanGeneration(), qint64(2));
        const qsizetype startOfSecond = states.size();
        waitForScanEnd(scanner, model);
        states.push_back({ids(model.rows()), model.scanning()});

        // From the second start on, only its own publications: [A] after the row, [A] at the
        // end, then scanning lowered. A superseded scan would show [A, B].
        const QVector<std::pair<QStringList, bool>> expected{
            {{}, true}, {{"A+"}, true}, {{"A+"}, true}, {{"A+"}, false}};
        QCOMPARE(states.mid(startOfSecond), expected);
    }

    void destroyedScannerDropsItsPublications() {
        QVERIFY(makeFile(at("a/Cache/x"), 1'000'000));
        UIModel model;
        auto scanner =
            std::make_unique<Scanner>(model, std::vector<AppTarget>{target("A", {"a/Cache"})});
        scanner->startScan();
        scanner->waitForIdle();
        scanner.reset();
        QSignalSpy changes(&model, &UIModel::objectWillChange);
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents();
        QCOMPARE(changes.count(), 0);
        QVERIFY(model.rows().isEmpty());
    }

    void nothingOverTheThresholdEndsWithAnEmptyList() {
        UIModel model;
        model.setRows({CacheRow{"Old", 5, true}});
        Scanner scanner(model, {target("A", {"a/Cache"})});
        QSignalSpy changes(&model, &UIModel::objectWillChange);
        scanner.startScan();
        waitForScanEnd(scanner, model);
        QVERIFY(model.rows().isEmpty());
        QCOMPARE(changes.count(), 3);  // scanning raised, the final rows, scanning lowered
    }
};

QTEST_GUILESS_MAIN(TestScan)
#include "test_scan.moc"
