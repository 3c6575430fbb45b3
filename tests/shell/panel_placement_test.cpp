#include <gtest/gtest.h>

#include "shell/panel_placement.h"

namespace sweepkin {
namespace {

struct PlacementCase {
    const char* name;
    QRect icon;
    QSize panel;
    QRect area;
    QPoint cursor;
    QPoint expected;
};

void PrintTo(const PlacementCase& c, std::ostream* os) {
    *os << c.name;
}

class PanelPlacement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(PanelPlacement, PlacesPanelAgainstIconAndKeepsItOnScreen) {
    const PlacementCase& c = GetParam();
    const QPoint at = panelPosition(c.icon, c.panel, c.area, c.cursor);
    EXPECT_EQ(at, c.expected);
    if (c.panel.width() <= c.area.width() && c.panel.height() <= c.area.height()) {
        EXPECT_TRUE(c.area.contains(QRect(at, c.panel))) << "panel leaves the usable area";
    }
}

const QRect kScreen(0, 0, 1280, 800);
const QRect kBelowTopBar(0, 24, 1280, 776);

INSTANTIATE_TEST_SUITE_P(
    Cases, PanelPlacement,
    ::testing::Values(
        // Icon in a top bar, mid-screen: centred below the icon, 4 px gap.
        PlacementCase{"TopBarMiddle",
                      QRect(600, 0, 24, 24),
                      QSize(340, 400),
                      kBelowTopBar,
                      {},
                      QPoint(612 - 170, 28)},
        // Icon at the top right corner: pushed left to stay on screen.
        PlacementCase{"TopRightCorner",
                      QRect(1256, 0, 24, 24),
                      QSize(340, 400),
                      kBelowTopBar,
                      {},
                      QPoint(1280 - 340, 28)},
        // Icon at the top left corner: pushed right.
        PlacementCase{
            "TopLeftCorner", QRect(0, 0, 24, 24), QSize(340, 400), kBelowTopBar, {}, QPoint(0, 28)},
        // Icon in a bottom panel: above the icon.
        PlacementCase{"BottomPanel",
                      QRect(1200, 776, 24, 24),
                      QSize(340, 400),
                      QRect(0, 0, 1280, 776),
                      {},
                      QPoint(1280 - 340, 776 - 4 - 400)},
        // Icon in a left dock at the lower half: above it, clamped inside.
        PlacementCase{"LeftDockLow",
                      QRect(0, 700, 32, 32),
                      QSize(340, 400),
                      QRect(32, 0, 1248, 800),
                      {},
                      QPoint(32, 700 - 4 - 400)},
        // Unknown geometry: at the pointer, below it in the upper half.
        PlacementCase{"UnknownGeometryUpper", QRect(), QSize(340, 400), kScreen, QPoint(500, 100),
                      QPoint(500 - 170, 100 + 1 + 4)},
        // Unknown geometry, pointer low on the screen: above the pointer.
        PlacementCase{"UnknownGeometryLower", QRect(), QSize(340, 400), kScreen, QPoint(500, 700),
                      QPoint(500 - 170, 700 - 4 - 400)},
        // Panel taller than the space below a top icon: slid up into the area.
        PlacementCase{"TallPanel",
                      QRect(600, 0, 24, 24),
                      QSize(340, 775),
                      kBelowTopBar,
                      {},
                      QPoint(442, 24 + 776 - 775)},
        // Panel larger than the whole area: top-left of the area.
        PlacementCase{"LargerThanArea",
                      QRect(600, 0, 24, 24),
                      QSize(340, 900),
                      kBelowTopBar,
                      {},
                      QPoint(442, 24)},
        // Second screen to the right of the first.
        PlacementCase{"SecondScreen",
                      QRect(3000, 0, 22, 22),
                      QSize(340, 300),
                      QRect(1280, 24, 1920, 1056),
                      {},
                      QPoint(3011 - 170, 26)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sweepkin
