#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Log.h"

namespace quillon::testing {

// Routes the process log into memory for the lifetime of the object.
class LogCapture {
  public:
    LogCapture() : sink_(std::make_shared<platform::MemoryLogSink>()) {
        platform::setLogSink(sink_);
    }
    ~LogCapture() { platform::setLogSink(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<platform::LogRecord> records() const { return sink_->records(); }
    std::vector<std::string> messages(const std::string& category = {}) const {
        return sink_->messages(category);
    }
    // "level message" lines, handy for comparing whole sequences.
    std::vector<std::string> leveled(const std::string& category = {}) const {
        std::vector<std::string> out;
        for (const auto& record : sink_->records()) {
            if (category.empty() || record.category == category) {
                out.push_back(std::string(platform::logLevelName(record.level)) + " " +
                              record.message);
            }
        }
        return out;
    }
    void clear() { sink_->clear(); }

  private:
    std::shared_ptr<platform::MemoryLogSink> sink_;
};

}  // namespace quillon::testing
