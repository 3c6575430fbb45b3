#pragma once
// Where the panel goes on screen: against the tray icon, kept wholly inside the usable area.

#include <QPoint>
#include <QRect>
#include <QSize>

namespace sweepkin {

// Top-left corner for a panel of `panelSize`: centred under the icon when the icon sits in the
// upper half of `availableArea`, over it otherwise; at `cursor` when the icon's geometry is
// unknown (empty). The result always keeps the panel inside `availableArea` (top-left aligned
// when the panel is larger than the area).
QPoint panelPosition(QRect iconGeometry, QSize panelSize, QRect availableArea, QPoint cursor);

}  // namespace sweepkin
