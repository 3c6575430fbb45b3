#include "shell/row_icons.h"

#include "engine/process_values.h"

namespace sweepkin {

QStringList rowIconNames(const QString& rowName) {
    for (const AppTarget& target : processValues().cacheTargets) {
        if (QString::fromStdString(target.name) != rowName) continue;
        QStringList names;
        for (const std::string& icon : target.icons) names << QString::fromStdString(icon);
        return names;
    }
    return {};
}

QIcon rowIcon(const QString& rowName) {
    for (const QString& name : rowIconNames(rowName)) {
        if (QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
    }
    return QIcon::fromTheme(QStringLiteral("folder"));
}

}  // namespace sweepkin
