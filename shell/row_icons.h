#pragma once
// Each panel row's picture: its application's icon from the desktop's icon theme. Nothing is
// fetched from the network.

#include <QIcon>
#include <QString>
#include <QStringList>

namespace sweepkin {

// The icon-theme names of a row's application (the Icon= of its desktop entries: the Debian
// package's, then the Flatpak's), in order of preference; empty for a row without one.
QStringList rowIconNames(const QString& rowId);

// The first of those names the theme has, else the theme's folder icon; a null icon when the
// theme has neither (the row then draws a folder of its own).
QIcon rowIcon(const QString& rowId);

}  // namespace sweepkin
