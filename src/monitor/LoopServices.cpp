#include "monitor/LoopServices.h"

#include <thread>
#include <utility>

namespace quillon::monitor {

double SystemClock::absoluteTime() const {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::chrono::system_clock::time_point SystemClock::now() const {
    return std::chrono::system_clock::now();
}

void LoopControl::wake() {
    std::lock_guard lock(mutex_);
    woken_ = true;
    changed_.notify_all();
}

void LoopControl::stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
}

bool LoopControl::stopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
}

bool LoopControl::takeWake() {
    std::lock_guard lock(mutex_);
    return std::exchange(woken_, false);
}

bool LoopControl::wait(double seconds) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                      [&] { return stopped_ || woken_; });
    woken_ = false;
    return !stopped_;
}

bool ThreadPause::sleep(double seconds, LoopControl& control) {
    return control.wait(seconds);
}

WorkerStarter detachedThreads() {
    return [](std::function<void()> work) { std::thread(std::move(work)).detach(); };
}

}  // namespace quillon::monitor
