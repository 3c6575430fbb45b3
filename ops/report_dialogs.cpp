#include "ops/report_dialogs.h"

#include <QFileInfo>
#include <QUrl>
#include <QtDebug>

#include "engine/fs/sizes.h"
#include "engine/platform.h"
#include "engine/resources.h"
#include "ops/size_text.h"

namespace sweepkin {

Alert completionAlert(std::int64_t cleared, std::int64_t freeAfter, std::int64_t freeBefore,
                      bool anyFailed, const QString& stayed) {
    Alert alert;
    alert.message = QStringLiteral("Done — cleared ") + sizeText(cleared);
    alert.informative = QStringLiteral("Free disk space: ") + sizeText(freeAfter) +
                        QStringLiteral("  (was ") + sizeText(freeBefore) + QStringLiteral(").");
    alert.buttons << QStringLiteral("OK");
    if (anyFailed && kLinuxLocations) {
        alert.informative += QStringLiteral("\n\nCould not remove ") + stayed +
                             QStringLiteral(
                                 ". Quit the application and try again; the help "
                                 "explains the other causes.");
        alert.buttons << QStringLiteral("Show Help");
    } else if (anyFailed) {
        alert.informative += QStringLiteral(
            "\n\nSome items (such as Safari or iCloud) couldn't be fully cleared. To allow them, "
            "give Sweepkin Full Disk Access, then run again.");
        alert.buttons << QStringLiteral("Open Full Disk Access Settings");
    }
    return alert;
}

void showCompletionDialog(Desktop& desktop, std::int64_t cleared, std::int64_t freeAfter,
                          std::int64_t freeBefore, bool anyFailed, const QString& stayed) {
    const Alert alert = completionAlert(cleared, freeAfter, freeBefore, anyFailed, stayed);
    if (desktop.runAlert(alert) == 1 && anyFailed) openFullDiskAccessSettings(desktop);
}

void showLastReport(Desktop& desktop, const std::string& reportPath) {
    desktop.closePanel();
    const QString path = QString::fromStdString(reportPath);
    if (QFileInfo(path).isFile()) {
        desktop.openUrl(QUrl::fromLocalFile(path));
        return;
    }
    Alert alert;
    alert.message = QStringLiteral("No cleanup report yet");
    alert.informative = QStringLiteral("A report will appear here after you run a cleanup.");
    desktop.runAlert(alert);
}

void openFullDiskAccessSettings(Desktop& desktop) {
#ifdef __APPLE__
    desktop.openUrl(QUrl(QStringLiteral(
        "x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles")));
#else
    // No access pane to open here: the shipped page explains why a folder could not be removed
    // and how to fix each cause.
    const auto help = resourcePath(kCacheRemovalHelpFileName);
    if (!help) {
        qWarning("Sweepkin: the help page %s is missing", kCacheRemovalHelpFileName);
        return;
    }
    desktop.openUrl(QUrl::fromLocalFile(QString::fromStdString(*help)));
#endif
}

}  // namespace sweepkin
