#include "shell/panel_decorations.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include "shell/icons.h"
#include "shell/palette.h"
#include "shell/panel_style.h"

namespace sweepkin {

Card::Card(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setContentsMargins(12, 12, 12, 12);
}

void Card::paintEvent(QPaintEvent*) {
    const bool dark = isDarkAppearance();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(Palette::border.resolve(dark), 1));
    painter.setBrush(Palette::card.resolve(dark));
    painter.drawRoundedRect(box, kRadius, kRadius);
}

HeaderIcon::HeaderIcon(QWidget* parent) : QWidget(parent) {
    setFixedSize(46, 46);
}

void HeaderIcon::paintEvent(QPaintEvent*) {
    const bool dark = isDarkAppearance();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::accent.withAlpha(dark, 0.16));
    painter.drawEllipse(QRectF(rect()));
    painter.setBrush(Palette::accent.resolve(dark));
    painter.drawPath(sparklesPath(QRectF(rect()).adjusted(12, 12, -12, -12)));
}

BetaBadge::BetaBadge(QWidget* parent) : QWidget(parent) {
    setFont(systemFont(7, QFont::Bold));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize BetaBadge::sizeHint() const {
    const QFontMetricsF fm(font());
    return QSizeF(fm.horizontalAdvance(QStringLiteral("BETA")) + 10, fm.height() + 3)
        .toSize()
        .expandedTo(QSize(1, 1));
}

void BetaBadge::paintEvent(QPaintEvent*) {
    const bool dark = isDarkAppearance();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box(rect());
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::badge.withAlpha(dark, 0.18));
    painter.drawRoundedRect(box, box.height() / 2, box.height() / 2);
    painter.setPen(Palette::badge.resolve(dark));
    painter.setFont(font());
    painter.drawText(box, Qt::AlignCenter, QStringLiteral("BETA"));
}

Divider::Divider(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Palette::border.resolve(isDarkAppearance()));
}

}  // namespace sweepkin
