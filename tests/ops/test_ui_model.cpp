// The UI model: initial state, one notification before every write, derived values.

#include <QSignalSpy>
#include <QTest>

#include "ops/ui_model.h"

using namespace sweepkin;

Q_DECLARE_METATYPE(QVector<sweepkin::CacheRow>)

class TestUIModel : public QObject {
    Q_OBJECT

  private slots:
    void newModel() {
        UIModel model;
        QVERIFY(model.rows().isEmpty());
        QVERIFY(!model.scanning());
        QVERIFY(!model.cleaning());
        QCOMPARE(model.freeDiskText(), QString());
        QCOMPARE(model.lastCleanText(), QStringLiteral("never"));
        QVERIFY(!model.loginOn());
    }

    // Each observer sees the old value: the notification comes before the write.
    void notifiesBeforeEveryWriteEvenWhenEqual() {
        UIModel model;
        QStringList seen;
        connect(&model, &UIModel::objectWillChange, &model, [&] {
            seen << QStringLiteral("%1/%2/%3/%4/%5/%6")
                        .arg(model.rows().size())
                        .arg(model.scanning())
                        .arg(model.cleaning())
                        .arg(model.freeDiskText(), model.lastCleanText())
                        .arg(model.loginOn());
        });
        model.setScanning(false);
        model.setScanning(true);
        model.setCleaning(true);
        model.setFreeDiskText("1 GB");
        model.setLastCleanText("never");
        model.setLoginOn(true);
        model.setRows({CacheRow{"A", 1, true}});
        QCOMPARE(seen, QStringList({"0/0/0//never/0", "0/0/0//never/0", "0/1/0//never/0",
                                    "0/1/1//never/0", "0/1/1/1 GB/never/0", "0/1/1/1 GB/never/0",
                                    "0/1/1/1 GB/never/1"}));
    }

    void tickingEachRowAndSelectNone() {
        UIModel model;
        model.setRows({CacheRow{"A", 1, false}, CacheRow{"B", 2, false}, CacheRow{"C", 3, false}});
        QSignalSpy changes(&model, &UIModel::objectWillChange);
        for (int i = 0; i < 3; ++i) model.setRowSelected(i, true);
        QVERIFY(model.allSelected());
        for (int i = 0; i < 3; ++i) model.setRowSelected(i, false);  // "Select none"
        QCOMPARE(changes.count(), 6);
        QVERIFY(model.selectedRows().isEmpty());
        model.setRowSelected(3, true);  // no such row: nothing written, nothing told
        QCOMPARE(changes.count(), 6);
    }

    void derivedValues_data() {
        QTest::addColumn<QVector<CacheRow>>("rows");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<int>("selectedCount");
        QTest::addColumn<qint64>("selectedBytes");
        QTest::addColumn<bool>("allSelected");
        using R = CacheRow;
        QTest::newRow("empty") << QVector<R>{} << qint64(0) << 0 << qint64(0) << false;
        QTest::newRow("all ticked") << QVector<R>{R{"A", 5, true}, R{"B", 7, true}} << qint64(12)
                                    << 2 << qint64(12) << true;
        QTest::newRow("one unticked") << QVector<R>{R{"A", 5, true}, R{"B", 7, false}} << qint64(12)
                                      << 1 << qint64(5) << false;
        QTest::newRow("unmeasured ticked")
            << QVector<R>{R{"A", std::nullopt, true}, R{"B", 7, false}} << qint64(7) << 1
            << qint64(0) << false;
        QTest::newRow("large") << QVector<R>{R{"A", 6'000'000'000, true},
                                             R{"B", 6'000'000'000, true}}
                               << qint64(12'000'000'000) << 2 << qint64(12'000'000'000) << true;
    }

    void derivedValues() {
        QFETCH(QVector<CacheRow>, rows);
        QFETCH(qint64, total);
        QFETCH(int, selectedCount);
        QFETCH(qint64, selectedBytes);
        QFETCH(bool, allSelected);
        UIModel model;
        model.setRows(rows);
        QCOMPARE(model.totalBytes(), total);
        QCOMPARE(model.selectedRows().size(), selectedCount);
        QCOMPARE(model.selectedBytes(), selectedBytes);
        QCOMPARE(model.allSelected(), allSelected);
    }
};

QTEST_GUILESS_MAIN(TestUIModel)
#include "test_ui_model.moc"
