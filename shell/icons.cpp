#include "shell/icons.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <QPolygonF>
#include <cmath>

#include "engine/resources.h"
#include "shell/palette.h"

namespace sweepkin {

namespace {

// One star with concave sides: four tips joined through control points near the centre.
void addStar(QPainterPath& path, QPointF centre, qreal radius) {
    const qreal pinch = radius * 0.16;
    const QPointF top = centre + QPointF(0, -radius);
    const QPointF right = centre + QPointF(radius, 0);
    const QPointF bottom = centre + QPointF(0, radius);
    const QPointF left = centre + QPointF(-radius, 0);
    path.moveTo(top);
    path.quadTo(centre + QPointF(pinch, -pinch), right);
    path.quadTo(centre + QPointF(pinch, pinch), bottom);
    path.quadTo(centre + QPointF(-pinch, pinch), left);
    path.quadTo(centre + QPointF(-pinch, -pinch), top);
    path.closeSubpath();
}

constexpr int kTraySizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

}  // namespace

QPainterPath sparklesPath(const QRectF& box) {
    const qreal s = qMin(box.width(), box.height());
    const QPointF origin = box.center() - QPointF(s / 2, s / 2);
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    addStar(path, origin + QPointF(s * 0.40, s * 0.58), s * 0.40);
    addStar(path, origin + QPointF(s * 0.80, s * 0.20), s * 0.18);
    addStar(path, origin + QPointF(s * 0.82, s * 0.82), s * 0.12);
    return path;
}

void drawReportIcon(QPainter& painter, const QRectF& box, const QColor& color) {
    const qreal s = qMin(box.width(), box.height());
    const QPointF o = box.center() - QPointF(s / 2, s / 2);
    const qreal w = qMax<qreal>(1.2, s * 0.085);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);

    // The page, with its top right corner folded.
    const qreal left = o.x() + s * 0.14, top = o.y() + s * 0.06;
    const qreal right = o.x() + s * 0.72, bottom = o.y() + s * 0.92;
    const qreal fold = s * 0.18;
    QPainterPath page;
    page.moveTo(right, top + fold);
    page.lineTo(right, o.y() + s * 0.44);
    page.moveTo(o.x() + s * 0.46, bottom);
    page.lineTo(left, bottom);
    page.lineTo(left, top);
    page.lineTo(right - fold, top);
    page.lineTo(right, top + fold);
    page.lineTo(right - fold, top + fold);
    page.lineTo(right - fold, top);
    painter.drawPath(page);

    // Text lines on the page.
    painter.drawLine(QPointF(left + s * 0.12, o.y() + s * 0.36),
                     QPointF(right - s * 0.16, o.y() + s * 0.36));
    painter.drawLine(QPointF(left + s * 0.12, o.y() + s * 0.52),
                     QPointF(o.x() + s * 0.42, o.y() + s * 0.52));

    // The magnifying glass.
    const QPointF lens(o.x() + s * 0.64, o.y() + s * 0.66);
    const qreal r = s * 0.17;
    painter.drawEllipse(lens, r, r);
    const QPointF handleStart = lens + QPointF(r * 0.72, r * 0.72);
    painter.drawLine(handleStart, QPointF(o.x() + s * 0.94, o.y() + s * 0.96));
    painter.restore();
}

void drawPowerIcon(QPainter& painter, const QRectF& box, const QColor& color) {
    const qreal s = qMin(box.width(), box.height());
    const QPointF c = box.center() + QPointF(0, s * 0.04);
    const qreal r = s * 0.36;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, qMax<qreal>(1.3, s * 0.095), Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    // Qt angles are in 1/16 degree, counter-clockwise from three o'clock; the gap is at the top.
    painter.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 122 * 16, 296 * 16);
    painter.drawLine(QPointF(c.x(), box.center().y() - s * 0.44), QPointF(c.x(), c.y() - s * 0.02));
    painter.restore();
}

void drawGearIcon(QPainter& painter, const QRectF& box, const QColor& color) {
    const qreal s = qMin(box.width(), box.height());
    const QPointF c = box.center();
    const qreal outer = s * 0.46, inner = s * 0.34;
    constexpr int kTeeth = 8;
    // Each tooth: a flat top on the outer circle, a flat valley on the inner one.
    QPolygonF outline;
    for (int i = 0; i < kTeeth * 4; ++i) {
        const qreal angle = (i + 0.5) * M_PI / (kTeeth * 2);
        const qreal r = (i % 4 == 0 || i % 4 == 3) ? outer : inner;
        outline << c + QPointF(r * std::cos(angle), r * std::sin(angle));
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(
        QPen(color, qMax<qreal>(1.2, s * 0.085), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolygon(outline);
    painter.drawEllipse(c, s * 0.13, s * 0.13);
    painter.restore();
}

void drawChartIcon(QPainter& painter, const QRectF& box, const QColor& color) {
    const qreal s = qMin(box.width(), box.height());
    const QPointF o = box.center() - QPointF(s / 2, s / 2);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(
        QPen(color, qMax<qreal>(1.4, s * 0.11), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawLine(o + QPointF(s * 0.1, s * 0.88), o + QPointF(s * 0.9, s * 0.88));
    const qreal tops[] = {0.6, 0.4, 0.16};
    for (int i = 0; i < 3; ++i) {
        const qreal x = s * (0.26 + 0.24 * i);
        painter.drawLine(o + QPointF(x, s * 0.74), o + QPointF(x, s * tops[i]));
    }
    painter.restore();
}

void drawBackIcon(QPainter& painter, const QRectF& box, const QColor& color) {
    const qreal s = qMin(box.width(), box.height());
    const QPointF o = box.center() - QPointF(s / 2, s / 2);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(
        QPen(color, qMax<qreal>(1.4, s * 0.11), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(QPolygonF{o + QPointF(s * 0.62, s * 0.18), o + QPointF(s * 0.32, s * 0.5),
                                   o + QPointF(s * 0.62, s * 0.82)});
    painter.restore();
}

void drawFolderIcon(QPainter& painter, const QRectF& box, const QColor& color) {
    const qreal s = qMin(box.width(), box.height());
    const QRectF square(box.center() - QPointF(s / 2, s / 2), QSizeF(s, s));
    const QRectF body = square.adjusted(s * 0.04, s * 0.26, -s * 0.04, -s * 0.12);
    QPainterPath tab;
    tab.addRoundedRect(QRectF(body.left(), body.top() - s * 0.12, s * 0.42, s * 0.2), s * 0.06,
                       s * 0.06);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color.darker(115));
    painter.drawPath(tab);
    painter.setBrush(color);
    painter.drawRoundedRect(body, s * 0.08, s * 0.08);
    painter.restore();
}

QIcon fallbackTrayIcon() {
    QIcon icon;
    for (int size : kTraySizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF tile(0.5, 0.5, size - 1.0, size - 1.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Palette::accent.resolve(false));
        painter.drawRoundedRect(tile, size * 0.22, size * 0.22);
        painter.setBrush(Qt::white);
        const qreal inset = size * 0.16;
        painter.drawPath(sparklesPath(tile.adjusted(inset, inset, -inset, -inset)));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon loadTrayIcon(const QString& iconDir) {
    QIcon icon;
    const QDir dir(iconDir);
    bool any = false;
    for (int size : kTraySizes) {
        const QString file = dir.filePath(QStringLiteral("%1-%2.png").arg(kIconName).arg(size));
        QPixmap pixmap;
        if (QFileInfo::exists(file) && pixmap.load(file) && !pixmap.isNull()) {
            icon.addPixmap(pixmap);
            any = true;
        }
    }
    const QString svg = dir.filePath(QStringLiteral("%1.svg").arg(kIconName));
    if (!any && QFileInfo::exists(svg) && QImageReader(svg).canRead()) {
        icon.addFile(svg);
        any = !icon.pixmap(22, 22).isNull();
    }
    return any ? icon : QIcon();
}

QIcon trayIcon() {
    std::optional<std::string> probe = resourcePath(std::string("icons/") + kIconName + ".svg");
    if (!probe) probe = resourcePath(std::string("icons/") + kIconName + "-22.png");
    if (probe) {
        QIcon icon = loadTrayIcon(QFileInfo(QString::fromStdString(*probe)).absolutePath());
        if (!icon.isNull()) return icon;
    }
    return fallbackTrayIcon();
}

}  // namespace sweepkin
