#pragma once
// Icons drawn in code, so the panel looks the same on every desktop and icon theme.

#include <QColor>
#include <QIcon>
#include <QPainterPath>
#include <QRectF>
#include <QString>

class QPainter;

namespace sweepkin {

// A large four-pointed star with two small companions, filling `box`.
QPainterPath sparklesPath(const QRectF& box);

// A page with folded corner and a magnifying glass over its lower right, as strokes in `box`.
void drawReportIcon(QPainter& painter, const QRectF& box, const QColor& color);

// The power symbol: an open ring with a bar through its gap, as strokes in `box`.
void drawPowerIcon(QPainter& painter, const QRectF& box, const QColor& color);

// A cog wheel with eight teeth, as strokes in `box`.
void drawGearIcon(QPainter& painter, const QRectF& box, const QColor& color);

// Three rising bars on a baseline, as strokes in `box`: the history.
void drawChartIcon(QPainter& painter, const QRectF& box, const QColor& color);

// A chevron pointing back (left), as a stroke in `box`.
void drawBackIcon(QPainter& painter, const QRectF& box, const QColor& color);

// A plain folder, filled, in `box`: a row's icon when the icon theme has none.
void drawFolderIcon(QPainter& painter, const QRectF& box, const QColor& color);

// The tray icon stand-in when the shipped icon cannot be loaded: sparkles on a rounded tile.
QIcon fallbackTrayIcon();

// The shipped tray icon from the files in `iconDir` (the SVG and the PNG sizes); a null icon when
// none of them loads.
QIcon loadTrayIcon(const QString& iconDir);

// The shipped icon when it loads from the program's resource folder, else the fallback.
QIcon trayIcon();

// The reverse-DNS name the icon files and the desktop entry use.
inline constexpr const char* kIconName = "org.sweepkin.Sweepkin";

}  // namespace sweepkin
