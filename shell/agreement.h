#pragma once
// The beta agreement the user accepts once, before the tray icon first appears.

#include <QString>
#include <functional>
#include <optional>

namespace sweepkin {

class Desktop;
class SettingsStore;

// The informative text of the agreement prompt.
QString agreementSummary();

// Returns true when the agreement is (or already was) accepted, false when the user chose
// "Quit" or closed the prompt; the caller then ends the process. "View Full License" opens
// `licensePath` when there is one and asks again. `logLine` receives the acceptance message.
bool ensureAgreementAccepted(Desktop& desktop, SettingsStore& settings,
                             const std::function<void(const QString&)>& logLine,
                             const std::optional<QString>& licensePath);

}  // namespace sweepkin
