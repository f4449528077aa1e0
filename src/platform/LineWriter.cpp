#include "platform/LineWriter.h"

#include <unistd.h>

#include <cerrno>

namespace quillon::platform {

namespace {

std::mutex& writeMutex() {
    static std::mutex mutex;
    return mutex;
}

class FdLineWriter final : public LineWriter {
  public:
    explicit FdLineWriter(int fd) : fd_(fd) {}
    void writeLine(std::string_view line) override { writeWholeLine(fd_, line); }

  private:
    int fd_;
};

class NullLineWriter final : public LineWriter {
  public:
    void writeLine(std::string_view) override {}
};

// Writes all of `bytes`, retrying partial writes; a closed or full stream loses the report,
// never the scan.
void writeAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        done += static_cast<std::size_t>(wrote);
    }
}

}  // namespace

void writeWholeLine(int fd, std::string_view line) {
    std::string buffer;
    buffer.reserve(line.size() + 1);
    buffer.append(line);
    buffer.push_back('\n');
    std::lock_guard lock(writeMutex());
    writeAll(fd, buffer);
}

LineWriter& standardOutput() {
    static FdLineWriter writer(STDOUT_FILENO);
    return writer;
}

LineWriter& nullOutput() {
    static NullLineWriter writer;
    return writer;
}

void BufferedLineWriter::writeLine(std::string_view line) {
    std::lock_guard lock(mutex_);
    pending_.append(line);
    pending_.push_back('\n');
    if (pending_.size() >= capacity_) {
        flushLocked();
    }
}

void BufferedLineWriter::flush() {
    std::lock_guard lock(mutex_);
    flushLocked();
}

void BufferedLineWriter::flushLocked() {
    // The same lock as single lines: a block never lands inside another writer's line.
    std::lock_guard lock(writeMutex());
    writeAll(fd_, pending_);
    pending_.clear();
}

void MemoryLineWriter::writeLine(std::string_view line) {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
}

std::vector<std::string> MemoryLineWriter::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

}  // namespace quillon::platform
