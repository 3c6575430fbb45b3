// The completion dialog, opening the last report, the help for removal failures, and the
// panel's texts.

#include <QDateTime>

#include "engine/sizes.h"
#include "ops/panel_texts.h"
#include "ops/report_dialogs.h"
#include "tests/ops/fakes.h"
#include "tests/ops/tree.h"

using namespace sweepkin;
using namespace sweepkin::testing;

class TestReportDialogs : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

  private slots:
    void completionDialog_data() {
        QTest::addColumn<bool>("anyFailed");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<bool>("opensHelp");
        const QStringList ok{"OK"}, withSettings{"OK", "Open Full Disk Access Settings"};
        QTest::newRow("clean, OK") << false << 0 << ok << false;
        QTest::newRow("clean, closed") << false << -1 << ok << false;
        QTest::newRow("failed, OK") << true << 0 << withSettings << false;
        QTest::newRow("failed, closed") << true << -1 << withSettings << false;
        QTest::newRow("failed, settings") << true << 1 << withSettings << true;
    }

    void completionDialog() {
        QFETCH(bool, anyFailed);
        QFETCH(int, answer);
        QFETCH(QStringList, buttons);
        QFETCH(bool, opensHelp);
        ScriptedDesktop desktop;
        desktop.answers = {answer};
        showCompletionDialog(desktop, 0, 12'345'000'000, 11'000'000'000, anyFailed);

        QCOMPARE(desktop.alerts.size(), 1);
        const Alert& alert = desktop.alerts[0];
        QCOMPARE(alert.message, QStringLiteral("Done — cleared 0 B"));
        QCOMPARE(alert.informative,
                 QStringLiteral("Free disk space: 12.35 GB  (was 11.00 GB).") +
                     (anyFailed ? QStringLiteral("\n\nSome items (such as Safari or iCloud) "
                                                 "couldn't be fully cleared. To allow them, give "
                                                 "Sweepkin Full Disk Access, then run again.")
                                : QString()));
        QVERIFY(!alert.warning);
        QCOMPARE(alert.buttons, buttons);
        QCOMPARE(desktop.openedUrls.size(), opensHelp ? 1 : 0);
    }

    void helpPageIsTheShippedFile() {
        ScriptedDesktop desktop;
        openFullDiskAccessSettings(desktop);
        QCOMPARE(desktop.openedUrls.size(), 1);
        const QByteArray html = readAll(desktop.openedUrls[0].toLocalFile());
        // The four causes it must explain, each with its fix.
        for (const char* fix : {"chown", "chmod", "chattr", "umount"})
            QVERIFY2(html.contains(fix), fix);
    }

    void lastReportOpensTheFile() {
        const QString path = dir_.filePath("last_cleanup_report.md");
        QVERIFY(writeFile(path, "# report\n"));
        ScriptedDesktop desktop;
        showLastReport(desktop, path.toStdString());
        QCOMPARE(desktop.panelCloses, 1);
        QVERIFY(desktop.alerts.isEmpty());
        QCOMPARE(desktop.openedUrls, QList<QUrl>{QUrl::fromLocalFile(path)});
    }

    void missingReportIsExplained() {
        ScriptedDesktop desktop;
        showLastReport(desktop, dir_.filePath("nothing-here.md").toStdString());
        QCOMPARE(desktop.panelCloses, 1);
        QVERIFY(desktop.openedUrls.isEmpty());
        QCOMPARE(desktop.alerts.size(), 1);
        const Alert& alert = desktop.alerts[0];
        QCOMPARE(alert.message, QStringLiteral("No cleanup report yet"));
        QCOMPARE(alert.informative, "A report will appear here after you run a cleanup.");
        QVERIFY(alert.buttons.isEmpty());
    }

    void lastCleanIsLocalTime() {
        SettingsStore settings(dir_.filePath("date.conf"));
        const QDateTime local(QDate(2026, 3, 5), QTime(14, 3, 9), Qt::LocalTime);
        settings.setDate(keys::lastClean, local.toUTC());  // stored in another zone
        QCOMPARE(lastCleanText(settings), QStringLiteral("2026-03-05 14:03:09"));
    }

    void refreshWritesThreeTextsInOrder() {
        SettingsStore settings(dir_.filePath("refresh.conf"));
        FixedLoginItem login(true);
        UIModel model;
        model.setLastCleanText(QStringLiteral("before"));
        // The texts as they stand just before each notification's write.
        QStringList seen;
        connect(&model, &UIModel::objectWillChange, &model, [&] {
            seen << model.lastCleanText() + "|" + (model.loginOn() ? "on" : "off") + "|" +
                        model.freeDiskText();
        });
        refreshTexts(model, settings, login);
        QCOMPARE(seen, QStringList({"before|off|", "never|off|", "never|on|"}));
        QCOMPARE(model.freeDiskText(), QString::fromStdString(formatBytes(freeDiskSpace())));

        // Unchanged values still notify, once per text.
        refreshTexts(model, settings, login);
        QCOMPARE(seen.size(), 6);
    }
};

QTEST_GUILESS_MAIN(TestReportDialogs)
#include "test_report_dialogs.moc"
