#pragma once
// Stand-ins for what would need a person: answering modal alerts, the login switch.

#include <QList>
#include <QUrl>
#include <deque>

#include "ops/desktop.h"
#include "ops/login_item.h"

namespace sweepkin::testing {

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

class FixedLoginItem : public LoginItem {
  public:
    explicit FixedLoginItem(bool on) : on_(on) {}
    bool isRegistered() const override { return on_; }
    bool registerItem(QString*) override { return on_ = true; }
    bool unregisterItem(QString*) override {
        on_ = false;
        return true;
    }

  private:
    bool on_;
};

}  // namespace sweepkin::testing
