#pragma once

#include <chrono>
#include <functional>

namespace quillon::monitor {

// The main thread's task queue: tasks run one at a time on that thread, in posting order
// (delayed tasks when their time has come). `post` and `postAfter` may be called from any
// thread.
class MainQueue {
  public:
    using Task = std::function<void()>;
    virtual ~MainQueue() = default;
    virtual void post(Task task) = 0;
    virtual void postAfter(std::chrono::milliseconds delay, Task task) = 0;
};

}  // namespace quillon::monitor
