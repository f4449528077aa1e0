#include "ui/QtMainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

namespace quillon::ui {

void QtMainQueue::post(Task task) {
    // Queued calls to one receiver are delivered in the order they were posted.
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
}

void QtMainQueue::postAfter(std::chrono::milliseconds delay, Task task) {
    // The timer must be started on the main thread, whichever thread posts.
    post([delay, task = std::move(task)]() mutable {
        QTimer::singleShot(delay, QCoreApplication::instance(), std::move(task));
    });
}

}  // namespace quillon::ui
