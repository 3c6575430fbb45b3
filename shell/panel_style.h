#pragma once
// What every piece of the panel shares: its width, its text styles, its labels,
// and how a control shows that it has the keyboard's focus.

#include <QFont>

class QColor;
class QLabel;
class QPainter;
class QRectF;
class QWidget;

namespace sweepkin {

// The panel and the pages that stand in for it are this wide.
inline constexpr int kPanelWidth = 340;

// Text styles of the panel, as Qt point sizes.
QFont captionFont();
QFont caption2Font(QFont::Weight weight = QFont::Normal);
QFont title3Font();
QFont systemFont(qreal pointSize, QFont::Weight weight = QFont::Normal);

// A label in `font` whose text is never read as markup.
QLabel* makeLabel(const QFont& font, QWidget* parent);

// Gives a label's text the colour `color` (its palette's WindowText).
void setTextColor(QLabel* label, const QColor& color);

// Focus is drawn only once the keyboard has moved it, not for the focus a
// window gets on opening.
bool showsFocus(const QWidget* w);
// The ring around the part of a control that has the keyboard's focus.
void paintFocusRing(QPainter& painter, const QRectF& rect, qreal radius, bool dark);

}  // namespace sweepkin
