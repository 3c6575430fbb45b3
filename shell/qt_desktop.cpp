#include "shell/qt_desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>

#include "shell/icons.h"
#include "shell/test_dump.h"

namespace sweepkin {

namespace {

// With SWEEPKIN_TEST_DUMP set, "<dump>.alert" holds the open alert's message and buttons, so an
// end-to-end run knows which dialog it is about to answer. Removed when the alert closes.
class AlertDump {
  public:
    explicit AlertDump(const Alert& alert) {
        const QString dump = testDumpPath();
        if (dump.isEmpty()) return;
        path_ = dump + QStringLiteral(".alert");
        QSaveFile file(path_);
        if (!file.open(QIODevice::WriteOnly)) return;
        file.write((alert.message + QLatin1Char('\n') + alert.buttons.join(QLatin1Char('|')) +
                    QLatin1Char('\n'))
                       .toUtf8());
        file.commit();
    }
    ~AlertDump() {
        if (!path_.isEmpty()) QFile::remove(path_);
    }
    AlertDump(const AlertDump&) = delete;
    AlertDump& operator=(const AlertDump&) = delete;

  private:
    QString path_;
};

}  // namespace

int QtDesktop::runAlert(const Alert& alert) {
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Sweepkin"));
    box.setWindowIcon(trayIcon());
    box.setText(alert.message);
    box.setInformativeText(alert.informative);
    box.setTextFormat(Qt::PlainText);
    // A bold message over a comfortably wide paragraph, instead of a narrow column of text.
    box.setStyleSheet(
        QStringLiteral("QLabel#qt_msgbox_label { font-weight: bold; min-width: 360px; }"
                       "QLabel#qt_msgbox_informativelabel { min-width: 360px; }"));
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
    // Escape (and the window's close button) means the single button, or "Cancel" where there is
    // one; other alerts must be answered with a button.
    const qsizetype cancel = labels.indexOf(QStringLiteral("Cancel"));
    if (labels.size() == 1) {
        box.setEscapeButton(buttons.front());
    } else if (cancel >= 0) {
        box.setEscapeButton(buttons[cancel]);
    }

    box.show();
    box.raise();
    box.activateWindow();
    const AlertDump dump(alert);
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
