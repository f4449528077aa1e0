#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/FileURL.h"

namespace quillon::monitor {

// Wall-clock readings. Thread-safe.
class Clock {
  public:
    virtual ~Clock() = default;
    // Seconds on a continuous scale, for measuring how long a cycle took.
    virtual double absoluteTime() const = 0;
    // The current date and time, for the last-scan date.
    virtual std::chrono::system_clock::time_point now() const = 0;
};

// The pause between two cycles of a scan loop. Blocks the calling thread. Returns false only
// when the loop is to end, which the real pause never asks for; fakes use it to end a test.
class Pause {
  public:
    virtual ~Pause() = default;
    virtual bool sleep(double seconds) = 0;
};

// Starts a long-lived worker: one thread of its own per call, never a pool that a blocked loop
// could starve.
using WorkerStarter = std::function<void(std::function<void()>)>;

// The verdicts one cycle needs; true means clean. Called on a loop's own thread: the XCSSET
// scan, the XcodeSpy scan when that was clean, then the build-script analysis in every cycle
// (when set).
struct CyclePipelines {
    std::function<bool(const platform::FileURL&)> xcsset;
    std::function<bool(const platform::FileURL&)> xcodeSpy;
    std::function<bool(const platform::FileURL&)> buildScripts;
};

class SystemClock final : public Clock {
  public:
    double absoluteTime() const override;
    std::chrono::system_clock::time_point now() const override;
};

class ThreadPause final : public Pause {
  public:
    bool sleep(double seconds) override;
};

// A detached thread per worker.
WorkerStarter detachedThreads();

}  // namespace quillon::monitor
