#include <gtest/gtest.h>

#include "shell/panel_placement.h"

namespace sweepkin {
namespace {

TEST(PanelPlacement, PlacesPanelAgainstIconAndKeepsItOnScreen) {
    const QRect screen(0, 0, 1280, 800), belowTopBar(0, 24, 1280, 776);
    const QSize panel(340, 400);
    const struct {
        const char* name;
        QRect icon;
        QSize panel;
        QRect area;
        QPoint cursor, expected;
    } cases[] = {
        // Centred below (or above) the icon with a 4 px gap, pushed back inside the area.
        {"TopBarMiddle", {600, 0, 24, 24}, panel, belowTopBar, {}, {612 - 170, 28}},
        {"TopRightCorner", {1256, 0, 24, 24}, panel, belowTopBar, {}, {1280 - 340, 28}},
        {"TopLeftCorner", {0, 0, 24, 24}, panel, belowTopBar, {}, {0, 28}},
        {"BottomPanel", {1200, 776, 24, 24}, panel, {0, 0, 1280, 776}, {}, {940, 776 - 4 - 400}},
        {"LeftDockLow", {0, 700, 32, 32}, panel, {32, 0, 1248, 800}, {}, {32, 700 - 4 - 400}},
        // Unknown icon geometry: at the pointer, below it in the upper half, above in the lower.
        {"UnknownUpper", {}, panel, screen, {500, 100}, {500 - 170, 100 + 1 + 4}},
        {"UnknownLower", {}, panel, screen, {500, 700}, {500 - 170, 700 - 4 - 400}},
        {"TallPanel", {600, 0, 24, 24}, {340, 775}, belowTopBar, {}, {442, 24 + 776 - 775}},
        {"LargerThanArea", {600, 0, 24, 24}, {340, 900}, belowTopBar, {}, {442, 24}},
        {"SecondScreen", {3000, 0, 22, 22}, {340, 300}, {1280, 24, 1920, 1056}, {}, {2841, 26}},
    };
    for (const auto& c : cases) {
        const QPoint at = panelPosition(c.icon, c.panel, c.area, c.cursor);
        EXPECT_EQ(at, c.expected) << c.name;
        if (c.panel.width() <= c.area.width() && c.panel.height() <= c.area.height()) {
            EXPECT_TRUE(c.area.contains(QRect(at, c.panel))) << c.name << " leaves the area";
        }
    }
}

}  // namespace
}  // namespace sweepkin
