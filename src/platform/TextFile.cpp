#include "platform/TextFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

namespace {

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

// Opens a regular file for reading, without blocking on a special file and through paths
// longer than PATH_MAX; -1 with `failure` set (empty for a directory) otherwise.
int openRegular(const std::string& path, struct stat& info, std::string& failure) {
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int fd = ::open(path.c_str(), kFlags);
    if (fd < 0 && errno == ENAMETOOLONG && !path.empty()) {
        fd = openLongPath(path, kFlags);
    }
    if (fd < 0) {
        failure = errno == EISDIR ? "" : describeOpenError(errno);
        return -1;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        failure = S_ISFIFO(info.st_mode)                           ? "a FIFO, not a regular file"
                  : S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? "a device, not a regular file"
                  : S_ISDIR(info.st_mode)                          ? ""
                                                                   : "not a regular file";
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads up to `size` bytes into `out` from the current position; false on an I/O error.
bool readUpTo(int fd, char* out, std::size_t size, std::size_t& filled, std::string& failure) {
    filled = 0;
    while (filled < size) {
        const ssize_t got = ::read(fd, out + filled, size - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            failure = std::string("read error: ") + std::strerror(errno);
            return false;
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    return true;
}

// A buffer of `size` bytes for a read. Large ones ask the kernel for huge pages before the
// first touch: faulting a few megabytes in 4 KiB pages costs more than reading them.
std::string readBuffer(std::size_t size) {
    std::string out;
#if defined(MADV_HUGEPAGE)
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    if (size >= 2 * kHuge) {
        out.reserve(size);
        const auto start =
            (reinterpret_cast<std::uintptr_t>(out.data()) + kHuge - 1) & ~(kHuge - 1);
        const auto end = (reinterpret_cast<std::uintptr_t>(out.data()) + size) & ~(kHuge - 1);
        if (end > start) {
            ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
        }
    }
#endif
    out.resize(size);
    return out;
}

void noteFailure(const std::string& path, const std::string& failure) {
    if (!failure.empty()) {
        ReadFailureLog::note(path, failure);
    }
}

}  // namespace

bool readFileInPieces(const std::string& path, std::size_t piece, std::size_t overlap,
                      const std::function<bool(std::string_view)>& visit) {
    struct stat info {};
    std::string failure;
    const FdCloser closer{openRegular(path, info, failure)};
    if (closer.fd < 0) {
        noteFailure(path, failure.empty() ? "not a regular file" : failure);
        return false;
    }
    std::string buffer(overlap + piece, '\0');
    std::size_t kept = 0;
    while (true) {
        std::size_t filled = 0;
        if (!readUpTo(closer.fd, buffer.data() + kept, piece, filled, failure)) {
            noteFailure(path, failure);
            return false;
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

namespace {
thread_local SharedReads* currentSharedReads = nullptr;
}  // namespace

SharedReads::SharedReads(std::unordered_map<std::string, int> expectedReads, std::size_t budget,
                         std::size_t largestKept, std::size_t digestBudget)
    : expected_(std::move(expectedReads)),
      budget_(budget),
      largestKept_(largestKept),
      digestBudget_(digestBudget),
      outer_(currentSharedReads) {
    currentSharedReads = this;
}

SharedReads::~SharedReads() {
    currentSharedReads = outer_;
}

SharedReads* SharedReads::current() {
    return currentSharedReads;
}

void SharedReads::counted(const std::string& path, std::uint64_t size) {
    const auto expected = expected_.find(path);
    if (expected == expected_.end()) {
        return;
    }
    if (--expected->second <= 0) {
        expected_.erase(expected);
        sizes_.erase(path);
    } else {
        sizes_[path] = size;
    }
}

void SharedReads::giveBack(const std::string& path, std::string text) {
    if (SharedReads* shared = current()) {
        shared->keep(path, std::move(text));
    }
}

void SharedReads::keep(const std::string& path, std::string text) {
    const auto size = sizes_.find(path);
    if (!expected_.contains(path) || size == sizes_.end() || kept_.contains(path) ||
        text.size() > largestKept_ || keptBytes_ + text.size() > budget_) {
        // Nobody reads it again, it was not read here, or there is no room: the scans still to
        // come that can take a digest get one, and a large text's memory serves the next
        // large read.
        if (size != sizes_.end()) {
            digest(path, text);
        }
        if (text.size() > largestKept_ && text.capacity() > spare_.capacity()) {
            spare_ = std::move(text);
        }
        return;
    }
    keptBytes_ += text.size();
    kept_.emplace(path, Kept{std::move(text), size->second});
}

void SharedReads::expectDigest(const std::string& path, Digester digester) {
    auto& digesters = digesters_[path];
    if (std::find(digesters.begin(), digesters.end(), digester) == digesters.end()) {
        digesters.push_back(digester);
    }
}

void SharedReads::digest(const std::string& path, std::string_view text) {
    const auto pending = digesters_.find(path);
    if (pending == digesters_.end()) {
        return;
    }
    const std::uint64_t size = sizes_.at(path);
    for (const Digester digester : pending->second) {
        if (digestBytes_ >= digestBudget_) {
            break;
        }
        Digest made = digester(text);
        if (made.product == nullptr || made.bytes > digestBudget_ - digestBytes_) {
            continue;  // that scan reads the file itself
        }
        digestBytes_ += made.bytes;
        digests_[path].push_back({digester, Made{std::move(made), size}});
    }
    digesters_.erase(pending);
}

std::shared_ptr<const void> SharedReads::takeDigestOf(const std::string& path, Digester digester,
                                                      std::uint64_t limit) {
    if (const auto pending = digesters_.find(path); pending != digesters_.end()) {
        std::erase(pending->second, digester);
        if (pending->second.empty()) {
            digesters_.erase(pending);
        }
    }
    const auto made = digests_.find(path);
    if (made == digests_.end()) {
        return nullptr;
    }
    auto& list = made->second;
    const auto at = std::find_if(list.begin(), list.end(),
                                 [&](const auto& entry) { return entry.first == digester; });
    if (at == list.end()) {
        return nullptr;
    }
    Made taken = std::move(at->second);
    list.erase(at);
    if (list.empty()) {
        digests_.erase(made);
    }
    digestBytes_ -= taken.digest.bytes;
    if (taken.size > limit) {
        return nullptr;  // the caller's own read finds the file too large, as it would have
    }
    counted(path, taken.size);
    ++served_;
    return std::move(taken.digest.product);
}

std::optional<TextFileRead> SharedReads::serve(const std::string& path, std::uint64_t limit) {
    const auto kept = kept_.find(path);
    if (kept == kept_.end()) {
        return std::nullopt;
    }
    TextFileRead out;
    out.size = kept->second.size;
    if (out.size > limit) {
        // Too large for this reader: what a read would say; the text waits for the next.
        counted(path, out.size);
        out.tooLarge = true;
        ++served_;
        return out;
    }
    keptBytes_ -= kept->second.text.size();
    out.text = std::move(kept->second.text);
    kept_.erase(kept);
    counted(path, out.size);
    ++served_;
    return out;
}

TextLoan::~TextLoan() {
    if (text_) {
        SharedReads::giveBack(path_, std::move(*text_));
    }
}

std::string SharedReads::buffer(std::size_t size) {
    if (size > largestKept_ && size <= spare_.capacity()) {
        std::string out = std::move(spare_);
        spare_ = {};
        out.resize(size);  // fills only what it grows by
        return out;
    }
    return readBuffer(size);
}

namespace {

TextFileRead readTextFileFresh(const std::string& path, std::uint64_t limit,
                               SharedReads* shared = nullptr);

}  // namespace

TextFileRead readTextFileUpTo(const std::string& path, std::uint64_t limit) {
    SharedReads* shared = SharedReads::current();
    if (shared == nullptr) {
        return readTextFileFresh(path, limit);
    }
    if (auto served = shared->serve(path, limit)) {
        return std::move(*served);
    }
    TextFileRead read = readTextFileFresh(path, limit, shared);
    shared->counted(path, read.size);
    return read;
}

namespace {

TextFileRead readTextFileFresh(const std::string& path, std::uint64_t limit, SharedReads* shared) {
    TextFileRead result;
    struct stat info {};
    const FdCloser closer{openRegular(path, info, result.failure)};
    if (closer.fd < 0) {
        return result;
    }
    result.size = static_cast<std::uint64_t>(info.st_size);
    if (result.size > limit) {
        result.tooLarge = true;
        return result;
    }
    // One buffer of the size seen at open; a file that grows meanwhile is read up to that size.
    const auto size = static_cast<std::size_t>(info.st_size);
    std::string bytes = shared != nullptr ? shared->buffer(size) : readBuffer(size);
    std::size_t filled = 0;
    if (!readUpTo(closer.fd, bytes.data(), bytes.size(), filled, result.failure)) {
        return result;
    }
    bytes.resize(filled);
    const auto lead = static_cast<unsigned char>(bytes.empty() ? 0 : bytes.front());
    const bool mayHaveMark = lead == 0xEF || lead == 0xFF || lead == 0xFE || lead == 0x00;
    if (!mayHaveMark && isValidUtf8(bytes)) {
        result.text = std::move(bytes);  // the common case, without a copy
    } else {
        result.text = decodeText(bytes);
    }
    return result;
}

}  // namespace

std::optional<std::string> readTextFile(const std::string& path) {
    TextFileRead read = readTextFileUpTo(path, kLargestTextFile);
    if (read.tooLarge) {
        // Larger texts are never held whole: scans that can, read them in pieces instead.
        ReadFailureLog::note(path, "larger than 256 MB; not read whole");
    } else {
        noteFailure(path, read.failure);
    }
    return std::move(read.text);
}

}  // namespace quillon::platform
