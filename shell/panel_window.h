#pragma once
// The pop-up window that hosts the panel: frameless, closes on a click outside or Escape, always
// sized to the panel's content and kept on screen next to the tray icon.

#include <QElapsedTimer>
#include <QRect>
#include <QWidget>

namespace sweepkin {

class PopoverView;

class PanelWindow : public QWidget {
  public:
    explicit PanelWindow(PopoverView* view);

    // Shows the panel against `iconGeometry` (empty: at the pointer) and gives it the focus.
    void showNear(const QRect& iconGeometry);
    // True while shown, and for a moment after a click outside closed it: that same click may
    // reach the tray icon, which must then not reopen the panel.
    bool isShownOrJustClosed() const;
    PopoverView* view() const { return view_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void fitAndPlace();

    PopoverView* view_;
    QRect iconGeometry_;
    QPoint cursorAtOpen_;
    QElapsedTimer hiddenSince_;
};

}  // namespace sweepkin
