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
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        poll.stop();
        inspect(*box);
    });
    poll.start(10);
    return QtDesktop().runAlert(alert);
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

TEST(QtDesktop, ReturnChoosesTheDefaultEscapeCancelsAndNoButtonsGivesOneOk) {
    const QStringList agreement{"I Agree", "View Full License", "Quit"}, clean{"Clean", "Cancel"};
    const struct {
        Alert alert;
        Qt::Key key;
        int answer;
    } cases[] = {
        {{"Sweepkin Beta — License Agreement", "…", false, agreement}, Qt::Key_Return, 0},
        {{"Clean 1 selected cache (2 MB)?", "", true, clean}, Qt::Key_Escape, 1},
        {{"No cleanup report yet", "A report will appear here.", false, {}}, Qt::Key_Escape, 0},
    };
    for (const auto& c : cases) {
        const int answer = runAndInspect(c.alert, [&](QMessageBox& box) {
            EXPECT_EQ(buttonTexts(box),
                      c.alert.buttons.isEmpty() ? QStringList{"OK"} : c.alert.buttons);
            EXPECT_EQ(box.icon() == QMessageBox::Warning, c.alert.warning);
            QTest::keyClick(&box, c.key);
        });
        EXPECT_EQ(answer, c.answer) << c.alert.message.toStdString();
    }
}

TEST(QtDesktop, ClosePanelHidesItAndToleratesNone) {
    QWidget panel;
    panel.show();
    QtDesktop(&panel).closePanel();
    EXPECT_FALSE(panel.isVisible());
    QtDesktop().closePanel();
}

}  // namespace
}  // namespace sweepkin
