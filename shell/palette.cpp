#include "shell/palette.h"

#include <QGuiApplication>
#include <QStyleHints>

namespace sweepkin {

QColor DynamicColor::current() const {
    return resolve(isDarkAppearance());
}

QColor DynamicColor::withAlpha(bool dark, qreal alpha) const {
    QColor color = resolve(dark);
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

QColor secondaryTextColor(bool dark) {
    // Warm greys that sit between the ink and the background of each appearance.
    return dark ? QColor(0xB5, 0xAA, 0x9A) : QColor(0x84, 0x78, 0x68);
}

bool isDarkPalette(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() <
           palette.color(QPalette::WindowText).lightness();
}

bool isDarkAppearance() {
    if (!qGuiApp) return false;
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    switch (QGuiApplication::styleHints()->colorScheme()) {
        case Qt::ColorScheme::Dark:
            return true;
        case Qt::ColorScheme::Light:
            return false;
        default:
            break;
    }
#endif
    return isDarkPalette(QGuiApplication::palette());
}

}  // namespace sweepkin
