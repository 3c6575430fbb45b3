#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "shell/icons.h"
#include "shell/palette.h"

namespace sweepkin {
namespace {

struct ColorCase {
    const char* name;
    DynamicColor color;
    QColor light;
    QColor dark;
};

void PrintTo(const ColorCase& c, std::ostream* os) {
    *os << c.name;
}

class PaletteColors : public ::testing::TestWithParam<ColorCase> {};

TEST_P(PaletteColors, ResolveToTheirLightAndDarkValues) {
    const ColorCase& c = GetParam();
    EXPECT_EQ(c.color.resolve(false), c.light);
    EXPECT_EQ(c.color.resolve(true), c.dark);
    EXPECT_EQ(c.color.resolve(false).alpha(), 255);
    EXPECT_EQ(c.color.resolve(true).alpha(), 255);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PaletteColors,
    ::testing::Values(
        ColorCase{"background", Palette::background, QColor(250, 245, 236), QColor(43, 38, 32)},
        ColorCase{"card", Palette::card, QColor(255, 255, 255), QColor(55, 49, 42)},
        ColorCase{"border", Palette::border, QColor(232, 220, 200), QColor(74, 66, 56)},
        ColorCase{"accent", Palette::accent, QColor(156, 122, 84), QColor(194, 162, 120)},
        ColorCase{"ink", Palette::ink, QColor(78, 61, 42), QColor(239, 230, 216)},
        ColorCase{"badge", Palette::badge, QColor(201, 146, 75), QColor(217, 168, 96)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Appearance, FollowsTheApplicationPalette) {
    const QPalette saved = QApplication::palette();
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    QApplication::setPalette(dark);
    EXPECT_TRUE(isDarkAppearance());
    EXPECT_EQ(Palette::background.current(), QColor(43, 38, 32));

    QPalette light;
    light.setColor(QPalette::Window, QColor(240, 240, 240));
    light.setColor(QPalette::WindowText, QColor(20, 20, 20));
    QApplication::setPalette(light);
    EXPECT_FALSE(isDarkAppearance());
    EXPECT_EQ(Palette::background.current(), QColor(250, 245, 236));
    QApplication::setPalette(saved);
}

TEST(Appearance, UndecidablePaletteCountsAsLight) {
    QPalette flat;
    flat.setColor(QPalette::Window, QColor(128, 128, 128));
    flat.setColor(QPalette::WindowText, QColor(128, 128, 128));
    EXPECT_FALSE(isDarkPalette(flat));
}

TEST(TrayIcon, ShippedFilesLoad) {
    const QIcon icon = loadTrayIcon(QStringLiteral(SWEEPKIN_SOURCE_DIR "/resources/icons"));
    ASSERT_FALSE(icon.isNull());
    const QImage image = icon.pixmap(22, 22).toImage();
    EXPECT_EQ(image.width(), 22);
    // The tile's middle is opaque, its corner transparent.
    EXPECT_EQ(qAlpha(image.pixel(11, 2)), 255);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
}

TEST(TrayIcon, FolderWithoutIconsGivesNullAndTheFallbackDraws) {
    QTemporaryDir empty;
    EXPECT_TRUE(loadTrayIcon(empty.path()).isNull());

    const QIcon fallback = fallbackTrayIcon();
    ASSERT_FALSE(fallback.isNull());
    const QImage image = fallback.pixmap(22, 22).toImage();
    // Accent tile with white sparkles in it.
    EXPECT_EQ(QColor(image.pixel(2, 11)).rgb(), Palette::accent.resolve(false).rgb());
    bool anyWhite = false;
    for (int y = 0; y < 22; ++y) {
        for (int x = 0; x < 22; ++x) anyWhite |= image.pixel(x, y) == qRgba(255, 255, 255, 255);
    }
    EXPECT_TRUE(anyWhite);
}

TEST(TrayIcon, UnreadableFilesGiveNull) {
    QTemporaryDir dir;
    for (const char* name : {"org.sweepkin.Sweepkin-22.png", "org.sweepkin.Sweepkin.svg"}) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not an image");
    }
    EXPECT_TRUE(loadTrayIcon(dir.path()).isNull());
}

}  // namespace
}  // namespace sweepkin
