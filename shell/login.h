#pragma once
// Open-at-login logic over a LoginItem: the first-launch registration and the panel's switch.

#include "ops/login_item.h"

namespace sweepkin {

class SettingsStore;
class UIModel;

bool isLoginItemEnabled(const LoginItem& item);

// On: registers unless already registered. Off: unregisters without looking first. A failure
// only writes one warning line ("Sweepkin: login toggle failed: ...").
void setLoginItem(LoginItem& item, bool on);

// Registers once, on the very first launch; later launches leave the user's choice alone.
void ensureInitialLoginSetup(LoginItem& item, SettingsStore& settings);

// The switch's action: asks for the new state, then shows what the registration really is.
void applyLoginSwitch(LoginItem& item, UIModel& model, bool on);

}  // namespace sweepkin
