#include "shell/panel_window.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "shell/history_page.h"
#include "shell/panel_buttons.h"
#include "shell/panel_placement.h"
#include "shell/popover_view.h"
#include "shell/settings_page.h"

namespace sweepkin {

namespace {
constexpr qint64 kReopenGuardMs = 300;
}

PanelWindow::PanelWindow(PopoverView* view, SettingsPage* settings, HistoryPage* history)
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint),
      view_(view),
      settings_(settings),
      history_(history) {
    setWindowTitle(QStringLiteral("Sweepkin"));
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    view_->setParent(this);
    layout->addWidget(view_);
    connect(view_, &PopoverView::contentChanged, this, [this] {
        if (isVisible()) fitAndPlace();
    });
    if (history_) {
        history_->setParent(this);
        layout->addWidget(history_);
        history_->hide();
        connect(view_, &PopoverView::historyRequested, this, [this] { showHistory(true); });
        connect(history_, &HistoryPage::backRequested, this, [this] { showHistory(false); });
        connect(history_, &HistoryPage::contentChanged, this, [this] {
            if (isVisible() && history_->isVisibleTo(this)) fitAndPlace();
        });
    }
    if (!settings_) return;
    settings_->setParent(this);
    layout->addWidget(settings_);
    settings_->hide();
    connect(view_, &PopoverView::settingsRequested, this, [this] { showSettings(true); });
    connect(settings_, &SettingsPage::backRequested, this, [this] { showSettings(false); });
}

void PanelWindow::showSettings(bool on) {
    if (!settings_) return;
    settings_->refresh();
    view_->setVisible(!on);
    settings_->setVisible(on);
    fitAndPlace();
    QWidget* first = on ? static_cast<QWidget*>(settings_->backButton()) : view_->settingsButton();
    first->setFocus(Qt::TabFocusReason);
}

void PanelWindow::showHistory(bool on) {
    if (!history_) return;
    if (on) history_->refresh();
    view_->setVisible(!on);
    history_->setVisible(on);
    fitAndPlace();
    QWidget* first = on ? static_cast<QWidget*>(history_->backButton()) : view_->historyButton();
    first->setFocus(Qt::TabFocusReason);
}

void PanelWindow::showNear(const QRect& iconGeometry) {
    iconGeometry_ = iconGeometry;
    cursorAtOpen_ = QCursor::pos();
    if (settings_) settings_->hide();
    if (history_) history_->hide();
    view_->show();
    fitAndPlace();
    show();
    raise();
    activateWindow();
}

bool PanelWindow::isShownOrJustClosed() const {
    if (isVisible()) return true;
    return hiddenSince_.isValid() && hiddenSince_.elapsed() < kReopenGuardMs;
}

void PanelWindow::fitAndPlace() {
    const QPoint anchor = iconGeometry_.isEmpty() ? cursorAtOpen_ : iconGeometry_.center();
    QScreen* screen = QGuiApplication::screenAt(anchor);
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen) view_->fitHeight(screen->availableGeometry().height() - 16);
    const QSize size = settings_ && settings_->isVisibleTo(this) ? settings_->sizeHint()
                       : history_ && history_->isVisibleTo(this) ? history_->sizeHint()
                                                                 : view_->sizeHint();
    setFixedSize(size);
    const QRect area = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), size);
    move(panelPosition(iconGeometry_, size, area, cursorAtOpen_));
    if (isVisible()) view_->writeTestDump();
}

void PanelWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PanelWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Once mapped, so the positions written are the final ones.
    QTimer::singleShot(0, view_, [view = view_] { view->writeTestDump(); });
}

void PanelWindow::hideEvent(QHideEvent* event) {
    hiddenSince_.start();
    QWidget::hideEvent(event);
    view_->writeTestDump();
}

}  // namespace sweepkin
