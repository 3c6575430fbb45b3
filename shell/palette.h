#pragma once
// The panel's own colours, each with a light and a dark value, resolved at draw time.

#include <QColor>
#include <QPalette>

namespace sweepkin {

// A colour pair; which half applies is decided each time it is drawn.
class DynamicColor {
  public:
    constexpr DynamicColor(QRgb light, QRgb dark) : light_(light), dark_(dark) {}

    // The opaque sRGB colour for the given appearance.
    QColor resolve(bool dark) const { return QColor::fromRgb(dark ? dark_ : light_); }
    // The colour for the application's current appearance.
    QColor current() const;
    // The same colour at a fraction of full opacity.
    QColor withAlpha(bool dark, qreal alpha) const;

  private:
    QRgb light_;
    QRgb dark_;
};

struct Palette {
    static constexpr DynamicColor background{0xFAF5EC, 0x2B2620};
    static constexpr DynamicColor card{0xFFFFFF, 0x37312A};
    static constexpr DynamicColor border{0xE8DCC8, 0x4A4238};
    static constexpr DynamicColor accent{0x9C7A54, 0xC2A278};
    static constexpr DynamicColor ink{0x4E3D2A, 0xEFE6D8};
    static constexpr DynamicColor badge{0xC9924B, 0xD9A860};
};

// Secondary label text: the platform's dimmed foreground for the appearance.
QColor secondaryTextColor(bool dark);

// Whether a palette describes a dark appearance: its window is darker than its text.
bool isDarkPalette(const QPalette& palette);

// Whether the application currently draws in a dark appearance; false when it cannot be told.
bool isDarkAppearance();

}  // namespace sweepkin
