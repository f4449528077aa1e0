#include "platform/Log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/LineWriter.h"

#ifdef QUILLON_HAVE_SYSTEMD
#include <syslog.h>
#include <systemd/sd-journal.h>
#endif

namespace quillon::platform {

namespace {

class NullLogSink final : public LogSink {
  public:
    bool accepts(LogLevel) const override { return false; }
    void write(const LogRecord&) override {}
};

std::shared_ptr<LogSink> makeNullSink() {
    return std::make_shared<NullLogSink>();
}

std::atomic<std::shared_ptr<LogSink>>& globalSink() {
    static std::atomic<std::shared_ptr<LogSink>> sink{makeNullSink()};
    return sink;
}

}  // namespace

std::string_view logLevelName(LogLevel level) {
    switch (level) {
        case LogLevel::debug:
            return "debug";
        case LogLevel::info:
            return "info";
        case LogLevel::error:
            return "error";
    }
    return "info";
}

void setLogSink(std::shared_ptr<LogSink> sink) {
    globalSink().store(sink ? std::move(sink) : makeNullSink());
}

std::shared_ptr<LogSink> currentLogSink() {
    return globalSink().load();
}

std::string StderrLogSink::formatLine(const LogRecord& record) {
    std::string line;
    line.reserve(record.subsystem.size() + record.category.size() + record.message.size() + 16);
    line.append(logLevelName(record.level));
    line.push_back(' ');
    line.append(record.subsystem);
    line.push_back(' ');
    line.append(record.category);
    line.push_back(' ');
    for (char c : record.message) {
        if (c == '\n') {
            line.append("\\n");
        } else {
            line.push_back(c);
        }
    }
    return line;
}

void StderrLogSink::write(const LogRecord& record) {
    writeWholeLine(STDERR_FILENO, formatLine(record));
}

bool JournalLogSink::available() {
#ifdef QUILLON_HAVE_SYSTEMD
    struct stat info {};
    return ::stat("/run/systemd/journal/socket", &info) == 0 && S_ISSOCK(info.st_mode);
#else
    return false;
#endif
}

void JournalLogSink::write([[maybe_unused]] const LogRecord& record) {
#ifdef QUILLON_HAVE_SYSTEMD
    int priority = LOG_INFO;
    if (record.level == LogLevel::debug)
        priority = LOG_DEBUG;
    if (record.level == LogLevel::error)
        priority = LOG_ERR;
    sd_journal_send("MESSAGE=%s", record.message.c_str(), "PRIORITY=%i", priority, "SUBSYSTEM=%s",
                    record.subsystem.c_str(), "CATEGORY=%s", record.category.c_str(),
                    "SYSLOG_IDENTIFIER=quillon", nullptr);
#endif
}

void MemoryLogSink::write(const LogRecord& record) {
    std::lock_guard lock(mutex_);
    records_.push_back(record);
}

std::vector<LogRecord> MemoryLogSink::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<std::string> MemoryLogSink::messages(std::string_view category) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& record : records_) {
        if (category.empty() || record.category == category) {
            out.push_back(record.message);
        }
    }
    return out;
}

void MemoryLogSink::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

std::string formatLogMessage(std::string_view format, const std::vector<LogArgument>& arguments) {
    std::string out;
    out.reserve(format.size() + 32);
    std::size_t next = 0;
    const auto take = [&]() -> const LogArgument* {
        return next < arguments.size() ? &arguments[next++] : nullptr;
    };
    const auto asText = [](const LogArgument& argument) -> std::string {
        if (const auto* text = std::get_if<std::string_view>(&argument))
            return std::string(*text);
        if (const auto* number = std::get_if<std::int64_t>(&argument))
            return std::to_string(*number);
        if (const auto* real = std::get_if<double>(&argument))
            return std::to_string(*real);
        return std::get<bool>(argument) ? "true" : "false";
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%' || i + 1 >= format.size()) {
            out.push_back(c);
            continue;
        }
        const std::string_view rest = format.substr(i + 1);
        if (rest.front() == '%') {
            out.push_back('%');
            i += 1;
        } else if (rest.starts_with("{bool}d")) {
            if (const auto* argument = take()) {
                const auto* flag = std::get_if<bool>(argument);
                const auto* number = std::get_if<std::int64_t>(argument);
                out.append((flag ? *flag : (number && *number != 0)) ? "true" : "false");
            }
            i += 7;
        } else if (rest.starts_with("ld") || rest.starts_with("s") || rest.starts_with("d")) {
            if (const auto* argument = take()) {
                out.append(asText(*argument));
            }
            i += rest.starts_with("ld") ? 2 : 1;
        } else if (rest.size() >= 3 && rest[0] == '.' && rest[1] >= '0' && rest[1] <= '9' &&
                   rest[2] == 'f') {
            if (const auto* argument = take()) {
                double value = 0;
                if (const auto* real = std::get_if<double>(argument))
                    value = *real;
                if (const auto* number = std::get_if<std::int64_t>(argument)) {
                    value = static_cast<double>(*number);
                }
                char buffer[64];
                std::snprintf(buffer, sizeof buffer, "%.*f", rest[1] - '0', value);
                out.append(buffer);
            }
            i += 3;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

void Logger::deliver(LogSink& sink, LogLevel level, std::string_view format,
                     const std::vector<LogArgument>& arguments) const {
    sink.write(LogRecord{level, subsystem_, category_, formatLogMessage(format, arguments)});
}

}  // namespace quillon::platform
