#include "shell/panel_placement.h"

#include <algorithm>

namespace sweepkin {

namespace {

constexpr int kGap = 4;  // between the icon (or the pointer) and the panel's edge

int clampAxis(int start, int length, int areaStart, int areaLength) {
    if (length >= areaLength) return areaStart;
    return std::clamp(start, areaStart, areaStart + areaLength - length);
}

}  // namespace

QPoint panelPosition(QRect iconGeometry, QSize panelSize, QRect availableArea, QPoint cursor) {
    const bool known = !iconGeometry.isEmpty();
    const QRect anchor = known ? iconGeometry : QRect(cursor, QSize(1, 1));
    const int anchorCentreX = anchor.left() + anchor.width() / 2;
    const int anchorCentreY = anchor.top() + anchor.height() / 2;
    const int areaMiddleY = availableArea.top() + availableArea.height() / 2;

    int x = anchorCentreX - panelSize.width() / 2;
    int y = anchorCentreY < areaMiddleY ? anchor.top() + anchor.height() + kGap
                                        : anchor.top() - kGap - panelSize.height();
    x = clampAxis(x, panelSize.width(), availableArea.left(), availableArea.width());
    y = clampAxis(y, panelSize.height(), availableArea.top(), availableArea.height());
    return {x, y};
}

}  // namespace sweepkin
