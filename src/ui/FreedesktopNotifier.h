#pragma once

#include <QObject>
#include <functional>
#include <map>

#include "monitor/Notifier.h"

namespace quillon::ui {

// Alerts through the freedesktop notification service (org.freedesktop.Notifications) on the
// session bus, with a default action that runs the alert's activation. Where no such service
// runs the alert is logged and dropped. Main thread only.
class FreedesktopNotifier final : public QObject, public monitor::Notifier {
    Q_OBJECT
  public:
    explicit FreedesktopNotifier(QObject* parent = nullptr);

    void notify(const monitor::Alert& alert, std::function<void()> onActivated) override;

  private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

  private:
    std::map<uint, std::function<void()>> pending_;
};

}  // namespace quillon::ui
