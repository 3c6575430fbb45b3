#pragma once
// Each panel row's picture: its application's icon from the desktop's icon theme. Nothing is
// fetched from the network.

#include <QHash>
#include <QIcon>
#include <QString>
#include <QStringList>
#include <vector>

#include "engine/catalogue/app_target.h"

namespace sweepkin {

// By row id, the icon-theme names of the row's application (the Icon= of its desktop entries:
// the Debian package's, then the Flatpak's), in order of preference; rows without one are absent.
using RowIconNames = QHash<QString, QStringList>;
RowIconNames rowIconNames(const std::vector<AppTarget>& targets);

// The first of `names` the theme has, else the theme's folder icon; a null icon when the theme
// has neither (the row then draws a folder of its own).
QIcon rowIcon(const QStringList& names);

}  // namespace sweepkin
