#include "shell/row_icons.h"

namespace sweepkin {

RowIconNames rowIconNames(const std::vector<AppTarget>& targets) {
    RowIconNames byId;
    for (const AppTarget& target : targets) {
        QStringList names;
        for (const std::string& icon : target.icons) names << QString::fromStdString(icon);
        if (!names.isEmpty()) byId.insert(QString::fromStdString(target.id), names);
    }
    return byId;
}

QIcon rowIcon(const QStringList& names) {
    for (const QString& name : names) {
        if (QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
    }
    return QIcon::fromTheme(QStringLiteral("folder"));
}

}  // namespace sweepkin
