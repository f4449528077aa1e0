#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/Finding.h"
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

// What the main thread can ask of one running loop: to cut its pause short for a rescan, or to
// end (its project was removed). A rescan asked for during a cycle cuts the next pause, and
// several asked for before it coalesce into one. Thread-safe.
class LoopControl {
  public:
    void wake();
    void stop();
    bool stopped() const;
    // Blocks until woken, stopped or `seconds` have passed; a wake is used up by the wait it
    // ends. False when stopped.
    bool wait(double seconds);
    // Uses up a pending wake, if there is one; for pauses that wait on something else.
    bool takeWake();

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool woken_ = false;
    bool stopped_ = false;
};

// The pause between two cycles of a scan loop. Blocks the calling thread and ends early when
// `control` is woken or stopped. Returns false when the loop is to end: its project was removed,
// or a fake ends a test.
class Pause {
  public:
    virtual ~Pause() = default;
    virtual bool sleep(double seconds, LoopControl& control) = 0;
};

// Starts a long-lived worker: one thread of its own per call, never a pool that a blocked loop
// could starve.
using WorkerStarter = std::function<void(std::function<void()>)>;

// What one pipeline found in a folder: its verdict, and what the project's details show. A
// bare verdict (a pipeline that keeps no details) converts from bool.
struct PipelineOutcome {
    PipelineOutcome(bool verdict = true) : clean(verdict) {}  // NOLINT: a verdict is an outcome

    bool clean;
    // "file: finding" lines of the classic results that found something.
    std::vector<std::string> textFindings;
    // Typed findings; a classic pipeline's verdict finding is high or critical, as every
    // finding that makes a verdict is.
    std::vector<core::Finding> findings;
    std::vector<core::ScanDiagnostic> diagnostics;
};

// The analyses one cycle runs, in order, on a loop's own thread: each step runs unless it is
// marked to run only after clean ones and one before it was not clean. The cycle's verdict is
// clean when every step that ran was.
struct CycleStep {
    using Pipeline = std::function<PipelineOutcome(const platform::FileURL&)>;
    std::string name;
    bool onlyAfterClean = false;
    Pipeline run;
};

struct CyclePipelines {
    std::vector<CycleStep> steps;
    // What the steps of one cycle share (one walk, one read of each file), made before the
    // first step and released after the last, on the loop's thread; none when empty.
    std::function<std::shared_ptr<void>(const platform::FileURL&)> beginCycle;
};

class SystemClock final : public Clock {
  public:
    double absoluteTime() const override;
    std::chrono::system_clock::time_point now() const override;
};

class ThreadPause final : public Pause {
  public:
    bool sleep(double seconds, LoopControl& control) override;
};

// A detached thread per worker.
WorkerStarter detachedThreads();

}  // namespace quillon::monitor
