#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "shell/qt_desktop.h"

namespace sweepkin {
namespace {

// Runs `alert` and, once its box is up, hands the box to `inspect`, which answers it.
int runAndInspect(const Alert& alert, std::function<void(QMessageBox&)> inspect) {
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        poll.stop();
        inspect(*box);
    });
    poll.start();
    QtDesktop desktop;
    return desktop.runAlert(alert);
}

QStringList buttonTexts(const QMessageBox& box) {
    QStringList texts;
    for (QAbstractButton* b : box.buttons()) texts << b->text();
    return texts;
}

TEST(QtDesktop, ButtonsKeepTheirOrderAndTheFirstIsTheDefault) {
    const Alert alert{"Clean 2 selected caches (3 MB)?",
                      "Only cache folders are deleted.",
                      true,
                      {"Clean", "Cancel"}};
    const int answer = runAndInspect(alert, [](QMessageBox& box) {
        EXPECT_EQ(box.text(), "Clean 2 selected caches (3 MB)?");
        EXPECT_EQ(box.informativeText(), "Only cache folders are deleted.");
        EXPECT_EQ(box.icon(), QMessageBox::Warning);
        EXPECT_EQ(buttonTexts(box), (QStringList{"Clean", "Cancel"}));
        ASSERT_NE(box.defaultButton(), nullptr);
        EXPECT_EQ(box.defaultButton()->text(), "Clean");
        box.buttons().at(1)->click();
    });
    EXPECT_EQ(answer, 1);
}

TEST(QtDesktop, ReturnChoosesTheDefaultButton) {
    const Alert alert{
        "Sweepkin Beta — License Agreement", "…", false, {"I Agree", "View Full License", "Quit"}};
    const int answer = runAndInspect(alert, [](QMessageBox& box) {
        EXPECT_NE(box.icon(), QMessageBox::Warning);
        QTest::keyClick(&box, Qt::Key_Return);
    });
    EXPECT_EQ(answer, 0);
}

TEST(QtDesktop, EscapeMeansCancel) {
    const Alert alert{"Clean 1 selected cache (2 MB)?", "", true, {"Clean", "Cancel"}};
    const int answer =
        runAndInspect(alert, [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
    EXPECT_EQ(answer, 1);
}

TEST(QtDesktop, NoButtonsGivesOneOk) {
    const Alert alert{
        "No cleanup report yet", "A report will appear here after you run a cleanup.", false, {}};
    const int answer = runAndInspect(alert, [](QMessageBox& box) {
        EXPECT_EQ(buttonTexts(box), QStringList{"OK"});
        QTest::keyClick(&box, Qt::Key_Escape);
    });
    EXPECT_EQ(answer, 0);
}

TEST(QtDesktop, ClosePanelHidesItAndToleratesNone) {
    QWidget panel;
    panel.show();
    QtDesktop desktop(&panel);
    desktop.closePanel();
    EXPECT_FALSE(panel.isVisible());
    QtDesktop without;
    without.closePanel();
}

}  // namespace
}  // namespace sweepkin
