#pragma once
// What the logic needs from the desktop: modal alerts, opening a file or URL, closing the panel.
// The real implementation lives in the shell; tests script it.

#include <QString>
#include <QStringList>
#include <QUrl>

namespace sweepkin {

struct Alert {
    QString message;
    QString informative;
    bool warning = false;    // warning style; otherwise the platform default
    QStringList buttons;     // added in order, the first is the default; empty: one default "OK"
};

class Desktop {
public:
    virtual ~Desktop() = default;
    // Brings the application to the front, runs the alert modally and returns the 0-based index
    // of the chosen button (-1 when the alert was closed without a button).
    virtual int runAlert(const Alert& alert) = 0;
    // Opens a file URL or another URL with its default handler; the outcome is not reported.
    virtual void openUrl(const QUrl& url) = 0;
    // Closes the panel if it is open.
    virtual void closePanel() = 0;
};

}  // namespace sweepkin
