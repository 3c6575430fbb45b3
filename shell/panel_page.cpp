#include "shell/panel_page.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "shell/palette.h"
#include "shell/panel_buttons.h"
#include "shell/panel_decorations.h"
#include "shell/panel_style.h"

namespace sweepkin {

QVBoxLayout* subPageLayout(QWidget* page, const QString& title, IconButton*& back,
                           QLabel*& titleLabel) {
    page->setFixedWidth(kPanelWidth);
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

    // A soft shadow under each card: black at 5 % spread over a couple of pixels,
    // 1 px down.
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

}  // namespace sweepkin
