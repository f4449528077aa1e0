#pragma once

#include <QObject>

#include "monitor/MainQueue.h"

namespace quillon::ui {

// The main queue on Qt's event loop: tasks run on the thread of the application object, in
// posting order. Posting is safe from any thread; tasks posted after the event loop has ended
// never run.
class QtMainQueue final : public monitor::MainQueue {
  public:
    void post(Task task) override;
    void postAfter(std::chrono::milliseconds delay, Task task) override;
};

}  // namespace quillon::ui
