#pragma once
// The pop-up window that hosts the panel and its settings page, one at a time: frameless, closes
// on a click outside or Escape, always sized to the page's content and kept on screen next to the
// tray icon.

#include <QElapsedTimer>
#include <QRect>
#include <QWidget>

namespace sweepkin {

class HistoryPage;
class PopoverView;
class SettingsPage;

class PanelWindow : public QWidget {
  public:
    // Without `settings`, the panel's gear button does nothing.
    explicit PanelWindow(PopoverView* view, SettingsPage* settings = nullptr,
                         HistoryPage* history = nullptr);

    // Shows the panel against `iconGeometry` (empty: at the pointer) and gives it the focus.
    void showNear(const QRect& iconGeometry);
    // Swaps the panel for the settings page, or back; the focus goes to the page's first control.
    void showSettings(bool on);
    // The same for the history page, which reads the store afresh.
    void showHistory(bool on);
    // True while shown, and for a moment after a click outside closed it: that same click may
    // reach the tray icon, which must then not reopen the panel.
    bool isShownOrJustClosed() const;
    PopoverView* view() const { return view_; }
    SettingsPage* settingsPage() const { return settings_; }
    HistoryPage* historyPage() const { return history_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void fitAndPlace();

    PopoverView* view_;
    SettingsPage* settings_;
    HistoryPage* history_;
    QRect iconGeometry_;
    QPoint cursorAtOpen_;
    QElapsedTimer hiddenSince_;
};

}  // namespace sweepkin
