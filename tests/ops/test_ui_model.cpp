// The UI model: one notification before every write, derived values.

#include "ops/ui_model.h"
#include "tests/ops/tree.h"

using namespace sweepkin;
using R = CacheRow;

Q_DECLARE_METATYPE(QVector<sweepkin::CacheRow>)

class TestUIModel : public QObject {
    Q_OBJECT

  private slots:
    // Each observer sees the old value (the first one is the new model's state), even when the
    // write changes nothing.
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
        model.setRows({R{"A", 1, true}});
        QCOMPARE(seen, QStringList({"0/0/0//never/0", "0/0/0//never/0", "0/1/0//never/0",
                                    "0/1/1//never/0", "0/1/1/1 GB/never/0", "0/1/1/1 GB/never/0",
                                    "0/1/1/1 GB/never/1"}));
    }

    void tickingEachRowAndSelectNone() {
        UIModel model;
        model.setRows({R{"A", 1, false}, R{"B", 2, false}, R{"C", 3, false}});
        QSignalSpy changes(&model, &UIModel::objectWillChange);
        for (int i = 0; i < 3; ++i) model.setRowSelected(i, true);
        QVERIFY(model.allSelected());
        for (int i = 0; i < 3; ++i) model.setRowSelected(i, false);  // "Select none"
        QVERIFY(model.selectedRows().isEmpty());
        model.setRowSelected(3, true);  // no such row: nothing written, nothing told
        QCOMPARE(changes.count(), 6);
    }

    void derivedValues_data() {
        QTest::addColumn<QVector<CacheRow>>("rows");
        QTest::addColumn<QList<qint64>>("expected");  // total, selected count and bytes, all
        QTest::newRow("empty") << QVector<R>{} << QList<qint64>{0, 0, 0, 0};
        QTest::newRow("all ticked")
            << QVector<R>{R{"A", 5, true}, R{"B", 7, true}} << QList<qint64>{12, 2, 12, 1};
        QTest::newRow("one unticked")
            << QVector<R>{R{"A", 5, true}, R{"B", 7, false}} << QList<qint64>{12, 1, 5, 0};
        QTest::newRow("unmeasured ticked")
            << QVector<R>{R{"A", std::nullopt, true}, R{"B", 7, false}}
            << QList<qint64>{7, 1, 0, 0};
        QTest::newRow("large") << QVector<R>{R{"A", 6'000'000'000, true},
                                             R{"B", 6'000'000'000, true}}
                               << QList<qint64>{12'000'000'000, 2, 12'000'000'000, 1};
    }

    void derivedValues() {
        QFETCH(QVector<CacheRow>, rows);
        QFETCH(QList<qint64>, expected);
        UIModel model;
        model.setRows(rows);
        QCOMPARE((QList<qint64>{model.totalBytes(), model.selectedRows().size(),
                                model.selectedBytes(), model.allSelected()}),
                 expected);
    }
};

QTEST_GUILESS_MAIN(TestUIModel)
#include "test_ui_model.moc"
