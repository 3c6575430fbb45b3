#include "shell/row_icons.h"

#include "engine/process_values.h"

namespace sweepkin {

QStringList rowIconNames(const QString& rowId) {
    for (const AppTarget& target : processValues().cacheTargets) {
        if (QString::fromStdString(target.id) != rowId) continue;
        QStringList names;
        for (const std::string& icon : target.icons) names << QString::fromStdString(icon);
        return names;
    }
    return {};
}

QIcon rowIcon(const QString& rowId) {
    for (const QString& name : rowIconNames(rowId)) {
        if (QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
    }
    return QIcon::fromTheme(QStringLiteral("folder"));
}

}  // namespace sweepkin
