#include "ui/FreedesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include "platform/Log.h"

namespace quillon::ui {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

const platform::Logger& logger() {
    static const platform::Logger instance("com.quillon", "Alerts");
    return instance;
}

}  // namespace

FreedesktopNotifier::FreedesktopNotifier(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(actionInvoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                SLOT(notificationClosed(uint, uint)));
}

void FreedesktopNotifier::notify(const monitor::Alert& alert, std::function<void()> onActivated) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        logger().info("No session bus for the alert: %s", alert.title);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(2));  // critical
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quillon"));
    call << QStringLiteral("Quillon") << uint(0) << QStringLiteral("quillon")
         << QString::fromStdString(alert.title) << QString::fromStdString(alert.body)
         << QStringList{QStringLiteral("default"), QStringLiteral("Show Details")} << hints
         << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    const std::string title = alert.title;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, title, activation = std::move(onActivated)](QDBusPendingCallWatcher* done) {
                QDBusPendingReply<uint> reply = *done;
                done->deleteLater();
                if (reply.isError()) {
                    logger().error("Alert not shown (%s): %s", title,
                                   reply.error().message().toStdString());
                    return;
                }
                pending_[reply.value()] = activation;
            });
}

void FreedesktopNotifier::actionInvoked(uint id, const QString& action) {
    const auto found = pending_.find(id);
    if (found == pending_.end() || action != QStringLiteral("default")) {
        return;
    }
    const auto activation = found->second;
    if (activation) {
        activation();
    }
}

void FreedesktopNotifier::notificationClosed(uint id, uint reason) {
    (void)reason;
    pending_.erase(id);
}

}  // namespace quillon::ui
