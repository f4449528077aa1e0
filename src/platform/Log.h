#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

// The leveled log with subsystem and category that every component writes to. Records go to
// one process-wide sink (standard error, the systemd journal, or memory in tests); the sink is
// swapped by the composition root. Everything here is thread-safe, and a record is always
// delivered whole.
namespace quillon::platform {

enum class LogLevel { debug = 0, info = 1, error = 2 };

std::string_view logLevelName(LogLevel level);

struct LogRecord {
    LogLevel level;
    std::string subsystem;
    std::string category;
    std::string message;
};

class LogSink {
  public:
    virtual ~LogSink() = default;
    // Cheap test made before a message is formatted.
    virtual bool accepts(LogLevel level) const = 0;
    virtual void write(const LogRecord& record) = 0;
};

// Installs the process-wide sink; nullptr installs a sink that drops everything.
void setLogSink(std::shared_ptr<LogSink> sink);
std::shared_ptr<LogSink> currentLogSink();

// One `LEVEL SUBSYSTEM CATEGORY MESSAGE` line per record on standard error (line feeds in the
// message written as \n), each line a single write.
class StderrLogSink final : public LogSink {
  public:
    explicit StderrLogSink(LogLevel minimum) : minimum_(minimum) {}
    bool accepts(LogLevel level) const override { return level >= minimum_; }
    void write(const LogRecord& record) override;
    static std::string formatLine(const LogRecord& record);

  private:
    LogLevel minimum_;
};

// The systemd journal, with SUBSYSTEM, CATEGORY, PRIORITY and MESSAGE fields. Only built where
// libsystemd is available; `available()` tells whether the journal socket exists.
class JournalLogSink final : public LogSink {
  public:
    static bool available();
    bool accepts(LogLevel) const override { return true; }
    void write(const LogRecord& record) override;
};

// Keeps every record, for tests.
class MemoryLogSink final : public LogSink {
  public:
    bool accepts(LogLevel) const override { return true; }
    void write(const LogRecord& record) override;
    std::vector<LogRecord> records() const;
    // Messages of one subsystem/category, in order; empty category means any.
    std::vector<std::string> messages(std::string_view category = {}) const;
    void clear();

  private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
};

// One argument of a log message. Texts are shown in clear (no private-data redaction exists on
// this platform).
using LogArgument = std::variant<std::string_view, std::int64_t, double, bool>;

// Renders a printf-like message: %s (text), %ld and %d (integer), %{bool}d (true/false),
// %.Nf (fixed decimals), %% (a percent sign).
std::string formatLogMessage(std::string_view format, const std::vector<LogArgument>& arguments);

class Logger {
  public:
    Logger(std::string subsystem, std::string category)
        : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

    template <typename... Args>
    void debug(std::string_view format, const Args&... args) const {
        log(LogLevel::debug, format, args...);
    }
    template <typename... Args>
    void info(std::string_view format, const Args&... args) const {
        log(LogLevel::info, format, args...);
    }
    template <typename... Args>
    void error(std::string_view format, const Args&... args) const {
        log(LogLevel::error, format, args...);
    }

    template <typename... Args>
    void log(LogLevel level, std::string_view format, const Args&... args) const {
        auto sink = currentLogSink();
        if (!sink->accepts(level)) {
            return;
        }
        deliver(*sink, level, format, {toArgument(args)...});
    }

    // Whether a record of this level would be kept, for callers whose arguments cost to make.
    bool enabled(LogLevel level) const { return currentLogSink()->accepts(level); }

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

  private:
    template <typename T>
    static LogArgument toArgument(const T& value) {
        if constexpr (std::is_same_v<T, bool>) {
            return value;
        } else if constexpr (std::is_integral_v<T>) {
            return static_cast<std::int64_t>(value);
        } else if constexpr (std::is_floating_point_v<T>) {
            return static_cast<double>(value);
        } else {
            return std::string_view(value);
        }
    }
    void deliver(LogSink& sink, LogLevel level, std::string_view format,
                 const std::vector<LogArgument>& arguments) const;

    std::string subsystem_;
    std::string category_;
};

}  // namespace quillon::platform
