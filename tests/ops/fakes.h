#pragma once
// Stand-ins for a person answering alerts and for a running desktop application.

#include <QFile>
#include <QList>
#include <QProcess>
#include <QTest>
#include <QUrl>
#include <deque>

#include "ops/desktop.h"
#include "ops/watch.h"
#include "tests/support/tree.h"

namespace sweepkin::testing {

// Names the case of a table when a comparison in its scope fails (Qt's checks name only the line).
struct CaseTrace {
    QString name;
    ~CaseTrace() {
        if (QTest::currentTestFailed()) qWarning("in the case: %s", qPrintable(name));
    }
};

// Answers alerts from a script (button indexes, in order) and records everything asked of it.
class ScriptedDesktop : public Desktop {
  public:
    std::deque<int> answers;  // when empty, alerts are dismissed (-1)
    QList<Alert> alerts;
    QList<QUrl> openedUrls;
    int panelCloses = 0;

    int runAlert(const Alert& alert) override {
        alerts.push_back(alert);
        if (answers.empty()) return -1;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void openUrl(const QUrl& url) override { openedUrls.push_back(url); }
    void closePanel() override { ++panelCloses; }
};

// Records each notice as "title: body" and at once picks its first action.
class PickingNotices : public Notices {
  public:
    QStringList sent;
    void send(const Notice& notice, std::function<void(const QString&)> onAction) override {
        sent << notice.title + ": " + notice.body;
        if (!notice.actions.isEmpty()) onAction(notice.actions.first().first);
    }
};

#ifdef QUIT_HELPER_PATH
// Starts a copy of quit_helper at `path` (its file name is the executable name) that answers
// SIGTERM as `mode` says; `extra` only shows in /proc. As nobody only when run as root.
inline bool startApp(QProcess& p, const QString& path, const QString& mode = "quit",
                     const QString& extra = "app", bool asNobody = false) {
    if (!QFile::exists(path) && !QFile::copy(QUIT_HELPER_PATH, path)) return false;
    const QStringList asUser{QString("--reuid=%1").arg(fixtures::kOtherUid),
                             QString("--regid=%1").arg(fixtures::kOtherGid), "--clear-groups", path};
    p.start(asNobody ? "setpriv" : path,
            (asNobody ? asUser : QStringList()) + QStringList{mode, extra});
    return p.waitForReadyRead(10'000);
}
inline bool stillRunning(QProcess* p) {
    return p->state() != QProcess::NotRunning && !p->waitForFinished(300);
}
inline bool quitNormally(QProcess* p) {  // after a handled SIGTERM, not killed
    return (p->state() == QProcess::NotRunning || p->waitForFinished(3000)) &&
           p->exitStatus() == QProcess::NormalExit;
}
#endif

}  // namespace sweepkin::testing
