#pragma once
// The panel's push buttons: a text link, the clean button and the icon buttons.
// Each resolves its colours when it paints, so an appearance change only needs
// a repaint.

#include <QAbstractButton>

namespace sweepkin {

// A borderless text button in the accent colour ("Select all").
class TextButton : public QAbstractButton {
  public:
    explicit TextButton(QWidget* parent = nullptr);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent*) override;
};

// The prominent, full-width clean button with the sparkles before its label.
class CleanButton : public QAbstractButton {
  public:
    explicit CleanButton(QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent*) override;
};

// A borderless icon button in the accent colour.
class IconButton : public QAbstractButton {
  public:
    enum class Glyph { Report, Power, Gear, Back, Chart };
    IconButton(Glyph glyph, const QString& toolTip, QWidget* parent = nullptr);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    Glyph glyph_;
};

}  // namespace sweepkin
