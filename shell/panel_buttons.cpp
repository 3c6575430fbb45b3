#include "shell/panel_buttons.h"

#include <QPainter>
#include <QPainterPath>

#include "shell/icons.h"
#include "shell/palette.h"
#include "shell/panel_style.h"

namespace sweepkin {

TextButton::TextButton(QWidget* parent) : QAbstractButton(parent) {
    setFont(caption2Font());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize TextButton::sizeHint() const {
    const QFontMetrics fm(font());
    return QSize(fm.horizontalAdvance(text()) + 4, fm.height() + 2);
}

void TextButton::paintEvent(QPaintEvent*) {
    const bool dark = isDarkAppearance();
    QPainter painter(this);
    QColor color = Palette::accent.resolve(dark);
    if (isDown()) color = color.darker(dark ? 90 : 125);
    painter.setPen(color);
    painter.setFont(font());
    QFont f = font();
    f.setUnderline(underMouse() || showsFocus(this));
    painter.setFont(f);
    painter.drawText(rect(), Qt::AlignCenter, text());
}

CleanButton::CleanButton(QWidget* parent) : QAbstractButton(parent) {
    setFont(systemFont(10.5, QFont::DemiBold));
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

QSize CleanButton::sizeHint() const {
    const QFontMetrics fm(font());
    return QSize(fm.horizontalAdvance(text()) + 60, qMax(32, fm.height() + 14));
}

QSize CleanButton::minimumSizeHint() const {
    return QSize(120, sizeHint().height());
}

void CleanButton::paintEvent(QPaintEvent*) {
    const bool dark = isDarkAppearance();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = Palette::accent.resolve(dark);
    QColor ink = dark ? Palette::background.resolve(true) : QColor(Qt::white);
    if (!isEnabled()) {
        fill.setAlphaF(0.35f);
        ink.setAlphaF(dark ? 0.6f : 0.85f);
    } else if (isDown()) {
        fill = fill.darker(118);
    } else if (underMouse()) {
        fill = fill.lighter(dark ? 108 : 106);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(box, 8, 8);
    if (showsFocus(this) && isEnabled())
        paintFocusRing(painter, box.adjusted(1.5, 1.5, -1.5, -1.5), 6.5, !dark);

    const QFontMetricsF fm(font());
    const qreal iconSize = 14, gap = 7;
    const qreal textWidth = fm.horizontalAdvance(text());
    const qreal total = iconSize + gap + textWidth;
    const qreal left = box.center().x() - total / 2;
    painter.setBrush(ink);
    painter.drawPath(
        sparklesPath(QRectF(left, box.center().y() - iconSize / 2, iconSize, iconSize)));
    painter.setPen(ink);
    painter.setFont(font());
    painter.drawText(QRectF(left + iconSize + gap, box.top(), textWidth + 2, box.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text());
}

IconButton::IconButton(Glyph glyph, const QString& toolTip, QWidget* parent)
    : QAbstractButton(parent), glyph_(glyph) {
    setToolTip(toolTip);
    setAccessibleName(toolTip);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize IconButton::sizeHint() const {
    return QSize(26, 26);
}

void IconButton::paintEvent(QPaintEvent*) {
    const bool dark = isDarkAppearance();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(rect());
    if (underMouse() || isDown()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Palette::accent.withAlpha(dark, isDown() ? 0.24 : 0.12));
        painter.drawRoundedRect(area, 6, 6);
    }
    if (showsFocus(this)) paintFocusRing(painter, area.adjusted(1, 1, -1, -1), 6, dark);
    const QRectF glyphBox = area.adjusted(4, 4, -4, -4);
    const QColor color = Palette::accent.resolve(dark);
    switch (glyph_) {
        case Glyph::Report:
            return drawReportIcon(painter, glyphBox, color);
        case Glyph::Power:
            return drawPowerIcon(painter, glyphBox, color);
        case Glyph::Gear:
            return drawGearIcon(painter, glyphBox, color);
        case Glyph::Back:
            return drawBackIcon(painter, glyphBox, color);
        case Glyph::Chart:
            return drawChartIcon(painter, glyphBox, color);
    }
}

}  // namespace sweepkin
