#include "shell/agreement.h"

#include <QUrl>

#include "ops/desktop.h"
#include "ops/settings.h"

namespace sweepkin {

QString agreementSummary() {
    return QStringLiteral(
        "Before using this app, please agree to the beta license:\n"
        "\n"
        "• This is BETA software, provided “AS IS” with no warranty of any kind.\n"
        "• The Sweepkin developers accept no liability for any damage or data loss; please keep "
        "backups of anything you cannot afford to lose.\n"
        "• The app deletes only the CACHE folders you select; apps rebuild caches automatically. "
        "Apps being cleaned are closed first.\n"
        "• Once a day the app sends an anonymous usage ping — no personal data, and it can be "
        "turned off.\n"
        "\n"
        "The full license is included in the downloaded package and on the Sweepkin website.");
}

bool ensureAgreementAccepted(Desktop& desktop, SettingsStore& settings,
                             const std::function<void(const QString&)>& logLine,
                             const std::optional<QString>& licensePath) {
    if (settings.boolValue(keys::acceptedEULAv1)) return true;
    const Alert prompt{
        QStringLiteral("Sweepkin Beta — License Agreement"),
        agreementSummary(),
        false,
        {QStringLiteral("I Agree"), QStringLiteral("View Full License"), QStringLiteral("Quit")}};
    for (;;) {
        const int answer = desktop.runAlert(prompt);
        if (answer == 1) {
            if (licensePath) desktop.openUrl(QUrl::fromLocalFile(*licensePath));
            continue;
        }
        if (answer == 0) {
            settings.setBool(keys::acceptedEULAv1, true);
            if (logLine) logLine(QStringLiteral("License agreement accepted (v1)."));
            return true;
        }
        return false;
    }
}

}  // namespace sweepkin
