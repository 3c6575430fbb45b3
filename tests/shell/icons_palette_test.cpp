#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "shell/icons.h"
#include "shell/palette.h"
#include "tests/shell/support.h"

namespace sweepkin {
namespace {

TEST(Palette, ColorsAreOpaqueAndDifferInDarkMode) {
    for (const DynamicColor& c : {Palette::background, Palette::card, Palette::border,
                                  Palette::accent, Palette::ink, Palette::badge}) {
        EXPECT_EQ(c.resolve(false).alpha(), 255);
        EXPECT_EQ(c.resolve(true).alpha(), 255);
        EXPECT_NE(c.resolve(false), c.resolve(true));
    }
}

using testing::desktopPalette;

TEST(Appearance, FollowsTheApplicationPaletteAndUndecidableCountsAsLight) {
    const QPalette saved = QApplication::palette();
    QApplication::setPalette(desktopPalette(QColor(30, 30, 30), QColor(230, 230, 230)));
    EXPECT_TRUE(isDarkAppearance());
    EXPECT_EQ(Palette::background.current(), QColor(43, 38, 32));
    QApplication::setPalette(desktopPalette(QColor(240, 240, 240), QColor(20, 20, 20)));
    EXPECT_FALSE(isDarkAppearance());
    EXPECT_EQ(Palette::background.current(), QColor(250, 245, 236));
    QApplication::setPalette(saved);
    EXPECT_FALSE(isDarkPalette(desktopPalette(QColor(128, 128, 128), QColor(128, 128, 128))));
}

TEST(TrayIcon, ShippedFilesLoad) {
    const QImage image = loadTrayIcon(QStringLiteral(SWEEPKIN_SOURCE_DIR "/resources/icons"))
                             .pixmap(22, 22)
                             .toImage();
    ASSERT_EQ(image.width(), 22);
    EXPECT_EQ(qAlpha(image.pixel(11, 2)), 255) << "the tile's middle is opaque";
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "its corner transparent";
}

TEST(TrayIcon, MissingOrUnreadableFilesGiveNullAndTheFallbackDraws) {
    QTemporaryDir dir;
    EXPECT_TRUE(loadTrayIcon(dir.path()).isNull());
    for (const char* name : {"org.sweepkin.Sweepkin-22.png", "org.sweepkin.Sweepkin.svg"}) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not an image");
    }
    EXPECT_TRUE(loadTrayIcon(dir.path()).isNull());

    const QImage image = fallbackTrayIcon().pixmap(22, 22).toImage();
    ASSERT_EQ(image.width(), 22);
    // Accent tile with white sparkles in it.
    EXPECT_EQ(QColor(image.pixel(2, 11)).rgb(), Palette::accent.resolve(false).rgb());
    bool anyWhite = false;
    for (int y = 0; y < 22; ++y) {
        for (int x = 0; x < 22; ++x) anyWhite |= image.pixel(x, y) == qRgba(255, 255, 255, 255);
    }
    EXPECT_TRUE(anyWhite);
}

}  // namespace
}  // namespace sweepkin
