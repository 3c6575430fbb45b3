#include "shell/qt_desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>

#include "shell/icons.h"

namespace sweepkin {

int QtDesktop::runAlert(const Alert& alert) {
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Sweepkin"));
    box.setWindowIcon(trayIcon());
    box.setText(alert.message);
    box.setInformativeText(alert.informative);
    box.setTextFormat(Qt::PlainText);
    if (alert.warning) {
        box.setIcon(QMessageBox::Warning);
    } else {
        box.setIconPixmap(trayIcon().pixmap(64, 64));
    }
    box.setWindowModality(Qt::ApplicationModal);
    // Always on top: with no main window the alert would otherwise open behind other windows.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);

    QList<QAbstractButton*> buttons;
    const QStringList labels =
        alert.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : alert.buttons;
    for (int i = 0; i < labels.size(); ++i) {
        // Roles only decide the platform's ordering hints; the added order is kept by the
        // explicit layout below, and the first button is the default.
        QPushButton* button = box.addButton(labels[i], QMessageBox::ActionRole);
        buttons.push_back(button);
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.front()));
    if (labels.size() == 1) box.setEscapeButton(buttons.front());

    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
    return buttons.indexOf(box.clickedButton());
}

void QtDesktop::openUrl(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

void QtDesktop::closePanel() {
    if (panel_) panel_->hide();
}

}  // namespace sweepkin
