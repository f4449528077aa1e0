#include "monitor/LoopServices.h"

#include <thread>

namespace quillon::monitor {

double SystemClock::absoluteTime() const {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::chrono::system_clock::time_point SystemClock::now() const {
    return std::chrono::system_clock::now();
}

bool ThreadPause::sleep(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return true;
}

WorkerStarter detachedThreads() {
    return [](std::function<void()> work) { std::thread(std::move(work)).detach(); };
}

}  // namespace quillon::monitor
