#pragma once
// The panel's pieces that only decorate: cards, the header's icon, the "BETA"
// capsule and the rule above the footer. Each resolves its colours when it
// paints, so an appearance change only needs a repaint.

#include <QWidget>

namespace sweepkin {

// A rounded card: fill, 1-px border; its shadow is painted by the panel behind
// it.
class Card : public QWidget {
  public:
    explicit Card(QWidget* parent = nullptr);
    static constexpr qreal kRadius = 12;

  protected:
    void paintEvent(QPaintEvent*) override;
};

// The header's tinted circle with the sparkles inside.
class HeaderIcon : public QWidget {
  public:
    explicit HeaderIcon(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent*) override;
};

// The "BETA" capsule.
class BetaBadge : public QWidget {
  public:
    explicit BetaBadge(QWidget* parent = nullptr);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent*) override;
};

// A 1-px horizontal rule.
class Divider : public QWidget {
  public:
    explicit Divider(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent*) override;
};

}  // namespace sweepkin
