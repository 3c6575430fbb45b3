#include "shell/panel_style.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>

#include "shell/palette.h"

namespace sweepkin {

QFont systemFont(qreal pointSize, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPointSizeF(pointSize);
    font.setWeight(weight);
    return font;
}

QFont captionFont() {
    return systemFont(9.5);
}
QFont caption2Font(QFont::Weight weight) {
    return systemFont(8.5, weight);
}
QFont title3Font() {
    return systemFont(11.5, QFont::DemiBold);
}

QLabel* makeLabel(const QFont& font, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void setTextColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

bool showsFocus(const QWidget* w) {
    return w->hasFocus() && w->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

void paintFocusRing(QPainter& painter, const QRectF& rect, qreal radius, bool dark) {
    painter.save();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Palette::accent.withAlpha(dark, 0.55), 1.5));
    painter.drawRoundedRect(rect, radius, radius);
    painter.restore();
}

}  // namespace sweepkin
