#pragma once
// The desktop services as the user sees them: message boxes, the default file/URL handler, and
// closing the panel.

#include <QPointer>

#include "ops/desktop.h"

#include <QWidget>

namespace sweepkin {

class QtDesktop : public Desktop {
  public:
    // `panel` is hidden by closePanel(); it may be null (or go away) and is then ignored.
    explicit QtDesktop(QWidget* panel = nullptr) : panel_(panel) {}
    void setPanel(QWidget* panel) { panel_ = panel; }

    int runAlert(const Alert& alert) override;
    void openUrl(const QUrl& url) override;
    void closePanel() override;

  private:
    QPointer<QWidget> panel_;
};

}  // namespace sweepkin
