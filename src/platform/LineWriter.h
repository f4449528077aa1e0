#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::platform {

// Where human-readable reports go, one line per call. Implementations are thread-safe and
// deliver each line whole: lines of concurrent writers may interleave, a line never tears.
class LineWriter {
  public:
    virtual ~LineWriter() = default;
    // Writes `line` followed by one line feed.
    virtual void writeLine(std::string_view line) = 0;
};

// The process's standard output, each line one write(2) of the text and its line feed.
LineWriter& standardOutput();
// Drops everything.
LineWriter& nullOutput();

// Collects whole lines and writes them to a descriptor in large blocks, at a fraction of the
// system calls of a write per line. Lines stay whole, also against other writers of this
// process (blocks and single lines share one lock); `flush` (and destruction) writes what is
// pending. Thread-safe.
class BufferedLineWriter final : public LineWriter {
  public:
    explicit BufferedLineWriter(int fd, std::size_t capacity = 1 << 16)
        : fd_(fd), capacity_(capacity) {}
    ~BufferedLineWriter() override { flush(); }
    BufferedLineWriter(const BufferedLineWriter&) = delete;
    BufferedLineWriter& operator=(const BufferedLineWriter&) = delete;

    void writeLine(std::string_view line) override;
    void flush();

  private:
    void flushLocked();
    std::mutex mutex_;
    int fd_;
    std::size_t capacity_;
    std::string pending_;
};

class MemoryLineWriter final : public LineWriter {
  public:
    void writeLine(std::string_view line) override;
    std::vector<std::string> lines() const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Writes `line` and a line feed to the descriptor as one unit, retrying partial writes under a
// process-wide lock so that no other line lands inside it.
void writeWholeLine(int fd, std::string_view line);

}  // namespace quillon::platform
