#include "shell/panel_widgets.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "shell/icons.h"
#include "shell/palette.h"
#include "shell/popover_view.h"
#include "shell/row_icons.h"

namespace sweepkin {

namespace {

// Focus is drawn only once the keyboard has moved it, not for the focus a window gets on opening.
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

}  // namespace

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

TickRow::TickRow(const QString& id, const QString& name, QWidget* parent)
    : QAbstractButton(parent), id_(id), name_(name), icon_(rowIcon(id)) {
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

    // The size sits at the trailing edge; the name gets the room left, at least 4 px apart.
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

void setTextColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

QVBoxLayout* subPageLayout(QWidget* page, const QString& title, IconButton*& back,
                           QLabel*& titleLabel) {
    page->setFixedWidth(PopoverView::kWidth);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(12);
    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    back = new IconButton(IconButton::Glyph::Back, QStringLiteral("Back"), page);
    header->addWidget(back);
    titleLabel = new QLabel(title, page);
    titleLabel->setFont(title3Font());
    header->addWidget(titleLabel, 1);
    column->addLayout(header);
    return column;
}

void paintPanelPage(QWidget* page, std::initializer_list<const QWidget*> cards) {
    const bool dark = isDarkAppearance();
    QPainter painter(page);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(page->rect(), Palette::background.resolve(dark));

    // A soft shadow under each card: black at 5 % spread over a couple of pixels, 1 px down.
    painter.setPen(Qt::NoPen);
    for (const QWidget* card : cards) {
        const QRectF box = QRectF(card->geometry()).translated(0, 1);
        for (int step = 2; step >= 0; --step) {
            painter.setBrush(QColor(0, 0, 0, dark ? 26 : 9));
            const qreal grow = step * 0.75;
            painter.drawRoundedRect(box.adjusted(-grow, -grow + 0.5, grow, grow),
                                    Card::kRadius + grow, Card::kRadius + grow);
        }
    }
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
