#include "shell/desktop_notices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QSystemTrayIcon>

#include "shell/icons.h"

namespace sweepkin {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
}  // namespace

DesktopNotices::DesktopNotices(QSystemTrayIcon* tray, QObject* parent)
    : QObject(parent), tray_(tray) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                SLOT(actionInvoked(uint, QString)));
    bus.connect(kService, kPath, kService, QStringLiteral("NotificationClosed"), this,
                SLOT(notificationClosed(uint, uint)));
    if (tray_) {
        connect(tray_, &QSystemTrayIcon::messageClicked, this, [this] {
            if (balloonClicked_) std::exchange(balloonClicked_, {})();
        });
    }
}

void DesktopNotices::send(const Notice& notice, std::function<void(const QString&)> onAction) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return balloon(notice, onAction);
    QStringList actions;
    for (const auto& [key, label] : notice.actions) actions << key << label;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    const QString icon = QString::fromLatin1(kIconName);
    call << QStringLiteral("Sweepkin") << 0u << icon << notice.title << notice.body << actions
         << QVariantMap{{QStringLiteral("desktop-entry"), icon}} << -1;
    // The service may first have to be started by the bus; nothing waits for it here.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, notice, onAction](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isError()) return balloon(notice, onAction);
                pending_.insert(reply.value(), onAction);
            });
}

void DesktopNotices::balloon(const Notice& notice, std::function<void(const QString&)> onAction) {
    if (!tray_ || !QSystemTrayIcon::isSystemTrayAvailable() ||
        !QSystemTrayIcon::supportsMessages()) {
        return;  // the tooltip is all there is
    }
    // A balloon has no buttons: a click on it stands for the first action.
    const QString first = notice.actions.isEmpty() ? QString() : notice.actions.first().first;
    balloonClicked_ = [onAction, first] {
        if (onAction) onAction(first);
    };
    tray_->showMessage(notice.title, notice.body, QSystemTrayIcon::Information, 15'000);
}

void DesktopNotices::actionInvoked(uint id, const QString& key) {
    const auto onAction = pending_.take(id);
    if (onAction) onAction(key);
}

void DesktopNotices::notificationClosed(uint id, uint) {
    pending_.remove(id);
}

bool onBatteryPower() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.UPower"), QStringLiteral("/org/freedesktop/UPower"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.freedesktop.UPower") << QStringLiteral("OnBattery");
    const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

}  // namespace sweepkin
