#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "monitor/LoopServices.h"
#include "monitor/MainQueue.h"
#include "monitor/ProjectRegistry.h"

namespace quillon::monitor::fakes {

// The steps of the monitor's cycle: the XCSSET scan, the XcodeSpy scan after a clean XCSSET
// scan, and the build-script analysis when given.
inline CyclePipelines cycleOf(CycleStep::Pipeline xcsset, CycleStep::Pipeline xcodeSpy,
                              CycleStep::Pipeline buildScripts = {}) {
    CyclePipelines pipelines;
    pipelines.steps.push_back({"xcsset", false, std::move(xcsset)});
    pipelines.steps.push_back({"xcodespy", true, std::move(xcodeSpy)});
    if (buildScripts) {
        pipelines.steps.push_back({"buildscripts", false, std::move(buildScripts)});
    }
    return pipelines;
}

// Tasks wait until the test drains them on its own thread, which plays the main thread.
class FakeMainQueue final : public MainQueue {
  public:
    void post(Task task) override {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    void postAfter(std::chrono::milliseconds delay, Task task) override {
        std::lock_guard lock(mutex_);
        delayed_.emplace_back(delay, std::move(task));
    }
    // Runs tasks, also those they post, until none is left; returns how many ran.
    int drain() {
        int ran = 0;
        while (true) {
            Task task;
            {
                std::lock_guard lock(mutex_);
                if (tasks_.empty()) {
                    return ran;
                }
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
            ++ran;
        }
    }
    std::size_t delayedCount() const {
        std::lock_guard lock(mutex_);
        return delayed_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::deque<Task> tasks_;
    std::vector<std::pair<std::chrono::milliseconds, Task>> delayed_;
};

// Each reading of absoluteTime advances by `step` seconds.
class FakeClock final : public Clock {
  public:
    explicit FakeClock(double step = 0.5) : step_(step) {}
    double absoluteTime() const override {
        std::lock_guard lock(mutex_);
        reading_ += step_;
        return reading_;
    }
    std::chrono::system_clock::time_point now() const override {
        std::lock_guard lock(mutex_);
        return std::chrono::system_clock::time_point(std::chrono::seconds(++dates_));
    }

  private:
    mutable std::mutex mutex_;
    double step_;
    mutable double reading_ = 0;
    mutable long dates_ = 1'700'000'000;
};

// Counts something and lets a test wait until the count reaches a value.
class Counter {
  public:
    void increment() {
        std::lock_guard lock(mutex_);
        ++count_;
        changed_.notify_all();
    }
    void waitFor(int value) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return count_ >= value; });
    }
    int value() const {
        std::lock_guard lock(mutex_);
        return count_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};

// The pause of a loop under test: each sleep is counted and blocks until the test releases it
// (the loop goes on), the loop's control wakes or stops it, or the test stops every loop.
class GatedPause final : public Pause {
  public:
    bool sleep(double seconds, LoopControl& control) override {
        std::unique_lock lock(mutex_);
        lastSeconds_ = seconds;
        const int ticket = ++sleeps_;
        changed_.notify_all();
        while (!stopped_ && released_ < ticket) {
            if (control.stopped()) {
                return false;
            }
            if (control.takeWake()) {
                // A rescan: this sleep's release is not needed any more.
                ++released_;
                break;
            }
            changed_.wait_for(lock, std::chrono::milliseconds(2));
        }
        return !stopped_ && !control.stopped();
    }
    void waitForSleeps(int count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return sleeps_ >= count; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        ++released_;
        changed_.notify_all();
    }
    void stop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }
    double lastSeconds() const {
        std::lock_guard lock(mutex_);
        return lastSeconds_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int sleeps_ = 0;
    int released_ = 0;
    bool stopped_ = false;
    double lastSeconds_ = 0;
};

// Starts workers on threads the test joins; or keeps them unstarted when asked.
class Workers {
  public:
    ~Workers() { join(); }
    WorkerStarter starter(bool run = true) {
        return [this, run](std::function<void()> work) {
            std::lock_guard lock(mutex_);
            if (run) {
                threads_.emplace_back(std::move(work));
            } else {
                pending_.push_back(std::move(work));
            }
        };
    }
    void join() {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        for (auto& thread : threads) {
            thread.join();
        }
    }
    std::size_t started() const {
        std::lock_guard lock(mutex_);
        return threads_.size() + pending_.size();
    }
    std::vector<std::function<void()>> takePending() {
        std::lock_guard lock(mutex_);
        return std::move(pending_);
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::thread> threads_;
    std::vector<std::function<void()>> pending_;
};

class FakeDashboard final : public Dashboard {
  public:
    void rebuildDashboard() override { ++rebuilds; }
    void setLoading(bool show) override { loading.push_back(show); }
    void showDetails(const std::shared_ptr<ProjectMonitor>& monitor) override {
        detailsShown.push_back(monitor);
    }
    int rebuilds = 0;
    std::vector<bool> loading;
    std::vector<std::shared_ptr<ProjectMonitor>> detailsShown;
};

// Keeps every alert and its activation, for the test to look at and click.
class FakeNotifier final : public Notifier {
  public:
    void notify(const Alert& alert, std::function<void()> onActivated) override {
        alerts.push_back(alert);
        activations.push_back(std::move(onActivated));
    }
    std::vector<Alert> alerts;
    std::vector<std::function<void()>> activations;
};

class FakeChooser final : public FolderChooser {
  public:
    std::optional<platform::FileURL> chooseFolder(const std::string& title,
                                                  const std::string& message) override {
        titles.push_back(title + " | " + message);
        return next;
    }
    std::optional<platform::FileURL> next;
    std::vector<std::string> titles;
};

}  // namespace quillon::monitor::fakes
