#include "shell/panel_toggles.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "shell/icons.h"
#include "shell/palette.h"
#include "shell/panel_style.h"

namespace sweepkin {

TickRow::TickRow(const QString& id, const QString& name, const QIcon& icon, QWidget* parent)
    : QAbstractButton(parent), id_(id), name_(name), icon_(icon) {
    setFont(systemFont(10.5));
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(name);
}

void TickRow::setState(bool ticked, const QString& sizeText) {
    if (ticked == ticked_ && sizeText == sizeText_) return;
    ticked_ = ticked;
    sizeText_ = sizeText;
    setAccessibleDescription(sizeText);
    update();
}

QSize TickRow::sizeHint() const {
    const QFontMetrics fm(font());
    return QSize(200, qMax(fm.height(), 16) + 4);
}

QSize TickRow::minimumSizeHint() const {
    return QSize(60, sizeHint().height());
}

void TickRow::paintEvent(QPaintEvent*) {
    const bool dark = isDarkAppearance();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(rect());
    const qreal box = 14;
    const QRectF tick(1, (area.height() - box) / 2, box, box);
    const QColor accent = Palette::accent.resolve(dark);

    if (ticked_) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(isDown() ? accent.darker(115) : accent);
        painter.drawRoundedRect(tick, 3.5, 3.5);
        QPainterPath mark;
        mark.moveTo(tick.left() + box * 0.24, tick.top() + box * 0.53);
        mark.lineTo(tick.left() + box * 0.43, tick.top() + box * 0.72);
        mark.lineTo(tick.left() + box * 0.77, tick.top() + box * 0.30);
        painter.setPen(QPen(dark ? Palette::background.resolve(true) : QColor(Qt::white), 1.8,
                            Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(mark);
    } else {
        painter.setPen(QPen(dark ? QColor(0x7A, 0x6E, 0x60) : QColor(0xC4, 0xB5, 0x9E), 1));
        painter.setBrush(isDown() ? Palette::border.resolve(dark) : Palette::card.resolve(dark));
        painter.drawRoundedRect(tick.adjusted(0.5, 0.5, -0.5, -0.5), 3.5, 3.5);
    }
    if (showsFocus(this)) paintFocusRing(painter, tick.adjusted(-2, -2, 2, 2), 5, dark);

    // The size sits at the trailing edge; the name gets the room left, at least 4
    // px apart.
    QFont sizeFont = caption2Font();
    const QFontMetricsF sizeMetrics(sizeFont);
    const qreal sizeWidth = sizeMetrics.horizontalAdvance(sizeText_);
    const QRectF sizeRect(area.right() - sizeWidth - 1, 0, sizeWidth + 1, area.height());
    painter.setFont(sizeFont);
    painter.setPen(secondaryTextColor(dark));
    painter.drawText(sizeRect, Qt::AlignRight | Qt::AlignVCenter, sizeText_);

    const qreal iconSize = qRound(QFontMetricsF(font()).height());
    const QRectF iconBox(tick.right() + 8, (area.height() - iconSize) / 2, iconSize, iconSize);
    if (icon_.isNull()) {
        drawFolderIcon(painter, iconBox, Palette::badge.resolve(dark));
    } else {
        icon_.paint(&painter, iconBox.toRect());
    }

    const qreal nameLeft = iconBox.right() + 6;
    const qreal nameWidth = qMax<qreal>(0, sizeRect.left() - 4 - nameLeft);
    const QFontMetricsF nameMetrics(font());
    const QString name = nameMetrics.elidedText(name_, Qt::ElideRight, nameWidth);
    painter.setFont(font());
    painter.setPen(dark ? QColor(0xEF, 0xE6, 0xD8) : QColor(0x2E, 0x25, 0x1B));
    painter.drawText(QRectF(nameLeft, 0, nameWidth, area.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, name);
}

SwitchToggle::SwitchToggle(const QString& label, QWidget* parent) : QAbstractButton(parent) {
    setText(label);
    setFont(captionFont());
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(label);
    connect(this, &QAbstractButton::clicked, this, [this] { emit flipRequested(!on_); });
}

void SwitchToggle::setOn(bool on) {
    if (on == on_) return;
    on_ = on;
    update();
}

QSize SwitchToggle::sizeHint() const {
    const QFontMetrics fm(font());
    return QSize(28 + 8 + fm.horizontalAdvance(text()) + 2, qMax(16, fm.height()) + 4);
}

void SwitchToggle::paintEvent(QPaintEvent*) {
    const bool dark = isDarkAppearance();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(rect());
    const QRectF track(1, (area.height() - 16) / 2, 28, 16);
    painter.setPen(Qt::NoPen);
    painter.setBrush(on_ ? Palette::accent.resolve(dark)
                         : (dark ? QColor(0x5A, 0x51, 0x46) : QColor(0xDD, 0xD2, 0xC1)));
    painter.drawRoundedRect(track, 8, 8);
    const qreal knob = 12;
    const qreal knobLeft = on_ ? track.right() - knob - 2 : track.left() + 2;
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(QRectF(knobLeft, track.top() + 2.6, knob, knob));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(knobLeft, track.top() + 2, knob, knob));
    if (showsFocus(this)) paintFocusRing(painter, track.adjusted(-2, -2, 2, 2), 10, dark);

    painter.setFont(font());
    painter.setPen(dark ? QColor(0xEF, 0xE6, 0xD8) : QColor(0x2E, 0x25, 0x1B));
    painter.drawText(QRectF(track.right() + 8, 0, area.width() - track.right() - 8, area.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text());
}

SegmentedChoice::SegmentedChoice(const QString& name, const QStringList& options, QWidget* parent)
    : QWidget(parent), options_(options) {
    setFont(caption2Font());
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(name);
    setCurrent(0);
}

void SegmentedChoice::setCurrent(int index) {
    current_ = qBound(0, index, int(options_.size()) - 1);
    setAccessibleDescription(options_.value(current_));
    update();
}

void SegmentedChoice::pick(int index) {
    if (index < 0 || index >= options_.size() || index == current_) return;
    setCurrent(index);
    emit picked(index);
}

QSize SegmentedChoice::sizeHint() const {
    const QFontMetrics fm(font());
    int width = 0;
    for (const QString& option : options_) width += fm.horizontalAdvance(option) + 12;
    return QSize(width, fm.height() + 10);
}

QRectF SegmentedChoice::segment(int index) const {
    const qreal width = qreal(rect().width()) / qMax<qsizetype>(1, options_.size());
    return QRectF(index * width, 0, width, rect().height());
}

void SegmentedChoice::paintEvent(QPaintEvent*) {
    const bool dark = isDarkAppearance();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(Palette::border.resolve(dark), 1));
    painter.setBrush(Palette::background.resolve(dark));
    painter.drawRoundedRect(box, 7, 7);
    const QRectF chosen = segment(current_).adjusted(2, 2, -2, -2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::accent.resolve(dark));
    painter.drawRoundedRect(chosen, 5, 5);
    if (showsFocus(this)) paintFocusRing(painter, chosen.adjusted(-1.5, -1.5, 1.5, 1.5), 6, !dark);
    painter.setFont(font());
    for (int i = 0; i < options_.size(); ++i) {
        painter.setPen(i == current_ ? (dark ? Palette::background.resolve(true) : Qt::white)
                                     : Palette::ink.resolve(dark));
        painter.drawText(segment(i), Qt::AlignCenter, options_[i]);
    }
}

void SegmentedChoice::mousePressEvent(QMouseEvent* event) {
    for (int i = 0; i < options_.size(); ++i) {
        if (segment(i).contains(event->position())) pick(i);
    }
}

void SegmentedChoice::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up:
            return pick(current_ - 1);
        case Qt::Key_Right:
        case Qt::Key_Down:
            return pick(current_ + 1);
        case Qt::Key_Home:
            return pick(0);
        case Qt::Key_End:
            return pick(int(options_.size()) - 1);
        default:
            QWidget::keyPressEvent(event);
    }
}

}  // namespace sweepkin
