#include "ops/panel_texts.h"

#include "engine/fs/sizes.h"

namespace sweepkin {

QString lastCleanText(const SettingsStore& settings) {
    const auto when = settings.dateValue(keys::lastClean);
    if (!when) return QStringLiteral("never");
    return when->toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void refreshTexts(UIModel& model, const SettingsStore& settings, const LoginItem& loginItem) {
    model.setLastCleanText(lastCleanText(settings));
    model.setLoginOn(loginItem.isRegistered());
    model.setFreeDiskText(QString::fromStdString(formatBytes(homeDiskSpace().free)));
    model.setSettingsProblem(settings.problem().value_or(QString()));
}

}  // namespace sweepkin
