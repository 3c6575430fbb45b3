#pragma once
// The panel's texts that do not come from a scan.

#include <QString>

#include "ops/login_item.h"
#include "ops/settings.h"
#include "ops/ui_model.h"

namespace sweepkin {

// `lastClean` as local "yyyy-MM-dd HH:mm:ss", or "never" when absent or not a date.
QString lastCleanText(const SettingsStore& settings);

// Writes lastCleanText, loginOn, freeDiskText and settingsProblem, in that order, one
// notification each.
void refreshTexts(UIModel& model, const SettingsStore& settings, const LoginItem& loginItem);

}  // namespace sweepkin
