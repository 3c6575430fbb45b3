#include "shell/history_chart.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "engine/fs/sizes.h"
#include "ops/size_text.h"
#include "shell/palette.h"
#include "shell/panel_style.h"

namespace sweepkin {

HistoryChart::HistoryChart(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(sizeHint().height());
    setFont(caption2Font());
    // Reached with Tab like the controls around it, so a screen reader reads what it shows.
    setFocusPolicy(Qt::TabFocus);
}

void HistoryChart::setSeries(QVector<std::pair<QDateTime, qint64>> totals,
                             QVector<std::pair<QDateTime, qint64>> cleans, const QDateTime& from,
                             const QDateTime& to) {
    totals_ = std::move(totals);
    cleans_ = std::move(cleans);
    from_ = from;
    to_ = to;
    const int days = int(from.daysTo(to));
    setAccessibleName(QStringLiteral("Total of caches over the last %1 days").arg(days));
    QString description;
    if (!totals_.isEmpty()) {
        description = QStringLiteral("From %1 to %2")
                          .arg(sizeText(totals_.front().second), sizeText(totals_.back().second));
        if (!cleans_.isEmpty()) {
            description += QStringLiteral(", %1 clean%2 marked")
                               .arg(cleans_.size())
                               .arg(cleans_.size() == 1 ? QString() : QStringLiteral("s"));
        }
    }
    setAccessibleDescription(description);
    update();
}

void HistoryChart::paintEvent(QPaintEvent*) {
    const bool dark = isDarkAppearance();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetricsF fm(font());
    const QColor accent = Palette::accent.resolve(dark);
    const QColor secondary = secondaryTextColor(dark);

    qint64 top = 1;
    for (const auto& [at, bytes] : totals_) top = std::max(top, bytes);
    const QRectF plot = QRectF(rect()).adjusted(2, fm.height() + 4, -2, -fm.height() - 6);
    const qint64 span = std::max<qint64>(1, from_.secsTo(to_));
    const auto x = [&](const QDateTime& at) {
        return plot.left() + plot.width() * qreal(from_.secsTo(at)) / qreal(span);
    };
    const auto y = [&](qint64 bytes) { return plot.bottom() - plot.height() * qreal(bytes) / top; };

    // The frame: the largest total over the top line, the period's ends under the baseline.
    painter.setPen(QPen(Palette::border.resolve(dark), 1));
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    painter.setPen(QPen(Palette::border.resolve(dark), 1, Qt::DotLine));
    painter.drawLine(plot.topLeft(), plot.topRight());
    painter.setPen(secondary);
    painter.drawText(QRectF(plot.left(), 0, plot.width(), fm.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, sizeText(top));
    const QRectF under(plot.left(), plot.bottom() + 4, plot.width(), fm.height());
    painter.drawText(under, Qt::AlignLeft | Qt::AlignVCenter,
                     QLocale().toString(from_.toLocalTime().date(), QStringLiteral("d MMM")));
    painter.drawText(under, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("today"));

    if (!totals_.isEmpty()) {
        QPainterPath line;
        line.moveTo(x(totals_.front().first), y(totals_.front().second));
        for (const auto& [at, bytes] : totals_) line.lineTo(x(at), y(bytes));
        QPainterPath fill = line;
        fill.lineTo(x(totals_.back().first), plot.bottom());
        fill.lineTo(x(totals_.front().first), plot.bottom());
        fill.closeSubpath();
        painter.setPen(Qt::NoPen);
        painter.setBrush(Palette::accent.withAlpha(dark, 0.16));
        painter.drawPath(fill);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(accent, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(line);
    }

    // Each clean: a thin mark across the plot and a dot at its foot.
    const QColor badge = Palette::badge.resolve(dark);
    for (const auto& [at, freed] : cleans_) {
        const qreal cx = x(at);
        painter.setPen(QPen(badge, 1, Qt::DashLine));
        painter.drawLine(QPointF(cx, plot.top()), QPointF(cx, plot.bottom()));
        painter.setPen(Qt::NoPen);
        painter.setBrush(badge);
        painter.drawEllipse(QPointF(cx, plot.bottom()), 3, 3);
    }
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(accent, 1.5));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 4, 4);
    }
}

}  // namespace sweepkin
