#include "platform/TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/TextEscapes.h"
#include "platform/Unicode.h"

namespace quillon::platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

std::string decodeUtf16(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size());
    const auto unit = [&](std::size_t i) -> char16_t {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        const char16_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < bytes.size()) {
            const char16_t v = unit(i + 2);
            if (v >= 0xDC00 && v <= 0xDFFF) {
                appendUtf8(out,
                           0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (v - 0xDC00));
                i += 2;
                continue;
            }
        }
        appendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
    }
    if (i < bytes.size()) {
        appendUtf8(out, kReplacement);
    }
    return out;
}

std::string decodeUtf32(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size() / 2);
    std::size_t i = 0;
    for (; i + 3 < bytes.size(); i += 4) {
        char32_t c = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const auto b = static_cast<unsigned char>(bytes[i + (bigEndian ? k : 3 - k)]);
            c = (c << 8) | b;
        }
        appendUtf8(out, (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) ? kReplacement : c);
    }
    if (i < bytes.size()) {
        appendUtf8(out, kReplacement);
    }
    return out;
}

// Opens a path too long for one system call by walking it a directory at a time, following
// links as the kernel would.
int openLongPath(const std::string& path, int flags) {
    int dir = ::open(path.front() == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::size_t start = path.front() == '/' ? 1 : 0;
    while (dir >= 0) {
        const std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) {
            const int fd = ::openat(dir, path.c_str() + start, flags);
            ::close(dir);
            return fd;
        }
        const std::string component = path.substr(start, slash - start);
        start = slash + 1;
        if (component.empty()) {
            continue;
        }
        const int next = ::openat(dir, component.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(dir);
        dir = next;
    }
    return -1;
}

bool startsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::string decodeText(std::string_view bytes) {
    using namespace std::string_view_literals;
    if (startsWith(bytes, "\xEF\xBB\xBF"sv)) {
        const std::string_view body = bytes.substr(3);
        return isValidUtf8(body) ? std::string(body) : latin1ToUtf8(body);
    }
    if (startsWith(bytes, "\xFF\xFE\x00\x00"sv)) {
        return decodeUtf32(bytes.substr(4), false);
    }
    if (startsWith(bytes, "\x00\x00\xFE\xFF"sv)) {
        return decodeUtf32(bytes.substr(4), true);
    }
    if (startsWith(bytes, "\xFF\xFE"sv)) {
        return decodeUtf16(bytes.substr(2), false);
    }
    if (startsWith(bytes, "\xFE\xFF"sv)) {
        return decodeUtf16(bytes.substr(2), true);
    }
    return isValidUtf8(bytes) ? std::string(bytes) : latin1ToUtf8(bytes);
}

namespace {

thread_local ReadFailureLog* currentReadFailureLog = nullptr;

std::string describeOpenError(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return "permission denied";
        case ENOENT:
            return "no such file";
        case ELOOP:
            return "a loop of symbolic links";
        default:
            return std::strerror(error);
    }
}

}  // namespace

ReadFailureLog::ReadFailureLog() : outer_(currentReadFailureLog) {
    currentReadFailureLog = this;
}

ReadFailureLog::~ReadFailureLog() {
    currentReadFailureLog = outer_;
}

void ReadFailureLog::note(const std::string& path, std::string reason) {
    if (currentReadFailureLog != nullptr) {
        currentReadFailureLog->failures_.push_back({path, std::move(reason)});
    }
}

std::optional<std::uint64_t> regularFileSize(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

bool readFileInPieces(const std::string& path, std::size_t piece, std::size_t overlap,
                      const std::function<bool(std::string_view)>& visit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        ReadFailureLog::note(path, describeOpenError(errno));
        return false;
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ReadFailureLog::note(path, "not a regular file");
        return false;
    }
    std::string buffer(overlap + piece, '\0');
    std::size_t kept = 0;
    while (true) {
        std::size_t filled = 0;
        while (filled < piece) {
            const ssize_t got = ::read(fd, buffer.data() + kept + filled, piece - filled);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                ReadFailureLog::note(path, std::string("read error: ") + std::strerror(errno));
                return false;
            }
            if (got == 0) {
                break;
            }
            filled += static_cast<std::size_t>(got);
        }
        if (filled == 0) {
            return true;
        }
        const std::size_t length = kept + filled;
        if (!visit(std::string_view(buffer.data(), length))) {
            return true;
        }
        kept = std::min(overlap, length);
        std::memmove(buffer.data(), buffer.data() + length - kept, kept);
        if (filled < piece) {
            return true;
        }
    }
}

std::optional<std::string> readTextFile(const std::string& path) {
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int fd = ::open(path.c_str(), kFlags);
    if (fd < 0 && errno == ENAMETOOLONG && !path.empty()) {
        fd = openLongPath(path, kFlags);
    }
    if (fd < 0) {
        if (errno != EISDIR) {
            ReadFailureLog::note(path, describeOpenError(errno));
        }
        return std::nullopt;
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        if (S_ISFIFO(info.st_mode)) {
            ReadFailureLog::note(path, "a FIFO, not a regular file");
        } else if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
            ReadFailureLog::note(path, "a device, not a regular file");
        } else if (!S_ISDIR(info.st_mode)) {
            ReadFailureLog::note(path, "not a regular file");
        }
        return std::nullopt;
    }
    // Larger texts are never held whole: scans that can, read them in pieces instead.
    if (static_cast<std::uint64_t>(info.st_size) > kLargestTextFile) {
        ReadFailureLog::note(path, "larger than 256 MB; not read whole");
        return std::nullopt;
    }
    // One buffer of the size seen at open; a file that grows meanwhile is read up to that size.
    std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ReadFailureLog::note(path, std::string("read error: ") + std::strerror(errno));
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
    const auto lead = static_cast<unsigned char>(bytes.empty() ? 0 : bytes.front());
    const bool mayHaveMark = lead == 0xEF || lead == 0xFF || lead == 0xFE || lead == 0x00;
    if (!mayHaveMark && isValidUtf8(bytes)) {
        return bytes;  // the common case, without a copy
    }
    return decodeText(bytes);
}

}  // namespace quillon::platform
