#pragma once
// Notices through the desktop's notification service (org.freedesktop.Notifications on the
// session bus, with actions); without one, the tray icon's own balloon; without that, nothing.

#include <QHash>
#include <QObject>
#include <functional>

#include "ops/watch.h"

class QSystemTrayIcon;

namespace sweepkin {

class DesktopNotices : public QObject, public Notices {
    Q_OBJECT
  public:
    // `tray` (may be null) shows the balloon when no notification service answers.
    explicit DesktopNotices(QSystemTrayIcon* tray, QObject* parent = nullptr);

    void send(const Notice& notice, std::function<void(const QString& key)> onAction) override;

  private slots:
    void actionInvoked(uint id, const QString& key);
    void notificationClosed(uint id, uint reason);

  private:
    void balloon(const Notice& notice, std::function<void(const QString& key)> onAction);

    QSystemTrayIcon* tray_;
    QHash<uint, std::function<void(const QString&)>> pending_;  // by notification id
    std::function<void()> balloonClicked_;
};

// Whether the machine runs on battery, as UPower tells over the system bus; without a system bus
// or UPower it counts as mains power. Waits up to two seconds: keep it off the main thread.
bool onBatteryPower();

}  // namespace sweepkin
