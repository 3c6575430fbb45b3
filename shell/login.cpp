#include "shell/login.h"

#include <QtGlobal>

#include "ops/settings.h"
#include "ops/ui_model.h"

namespace sweepkin {

bool isLoginItemEnabled(const LoginItem& item) {
    return item.isRegistered();
}

void setLoginItem(LoginItem& item, bool on) {
    QString error;
    bool ok = true;
    if (on) {
        if (item.isRegistered()) return;
        ok = item.registerItem(&error);
    } else {
        ok = item.unregisterItem(&error);
    }
    if (!ok) qWarning().noquote() << "Sweepkin: login toggle failed: " + error;
}

void ensureInitialLoginSetup(LoginItem& item, SettingsStore& settings) {
    if (settings.boolValue(keys::didInitialLoginSetup)) return;
    setLoginItem(item, true);
    settings.setBool(keys::didInitialLoginSetup, true);
}

void applyLoginSwitch(LoginItem& item, UIModel& model, bool on) {
    setLoginItem(item, on);
    model.setLoginOn(isLoginItemEnabled(item));
}

}  // namespace sweepkin
