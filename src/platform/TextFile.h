#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillon::platform {

// Reads a whole regular file as text and returns it as UTF-8, or nothing when the file cannot
// be read: it is missing, not a regular file (directory, FIFO, socket, device), or an I/O error
// occurred. Symbolic links are followed. Never blocks on a special file: the open is
// non-blocking and the type is checked on the opened descriptor. Thread-safe.
//
// Encoding: a byte-order mark selects UTF-8, UTF-16 LE/BE or UTF-32 LE/BE (the mark is not
// part of the text). Without one, valid UTF-8 is taken as UTF-8 and anything else as
// ISO-8859-1, so that a single stray byte cannot hide a script from the detectors; malformed
// UTF-16/32 units become U+FFFD for the same reason.
// Files over kLargestTextFile are not read (nothing, and a note in the read-failure log): no
// file may make a scan exhaust memory.
inline constexpr std::uint64_t kLargestTextFile = std::uint64_t{256} << 20;
std::optional<std::string> readTextFile(const std::string& path);

// What reading a text file came to: the text, or why there is none (the file is over the
// caller's limit, or `failure` says what else: "permission denied", "a FIFO, not a regular
// file", ...; empty for a directory).
struct TextFileRead {
    std::optional<std::string> text;
    bool tooLarge = false;
    std::uint64_t size = 0;  // of a regular file
    std::string failure;
};

// readTextFile with the caller's size limit, telling why nothing was read instead of noting it
// in the read-failure log.
TextFileRead readTextFileUpTo(const std::string& path, std::uint64_t limit);

// Reads a regular file piece by piece, as raw bytes: each call of `visit` gets up to `piece`
// new bytes, preceded by the last `overlap` bytes of the piece before, so that a search for
// strings up to `overlap` + 1 long sees every occurrence. Memory stays at one piece whatever
// the file's size. `visit` returns false to stop. False when the file could not be read
// (noted in the thread's read-failure log). Never blocks on a special file.
bool readFileInPieces(const std::string& path, std::size_t piece, std::size_t overlap,
                      const std::function<bool(std::string_view)>& visit);

// Notes why readTextFile could not read a file, for the calling thread, while one is alive:
// reports can then name files that were found but never judged. Directories are not noted
// (detectors are offered asset catalogue folders and skip them). Not shared between threads;
// logs nest, the innermost one taking the notes.
class ReadFailureLog {
  public:
    struct Failure {
        std::string path;
        std::string reason;  // "permission denied", "a FIFO, not a regular file", ...
    };
    ReadFailureLog();
    ~ReadFailureLog();
    ReadFailureLog(const ReadFailureLog&) = delete;
    ReadFailureLog& operator=(const ReadFailureLog&) = delete;

    const std::vector<Failure>& failures() const { return failures_; }
    // Records a failure in the calling thread's log, if it has one.
    static void note(const std::string& path, std::string reason);

  private:
    std::vector<Failure> failures_;
    ReadFailureLog* outer_;
};

// What a later scan of a file needs of its text (a parsed model, the matches of a search), made
// from the text while an earlier scan of the cycle holds it, so that the file is read once
// however many scans take it. `bytes`: about what the product holds in memory.
struct Digest {
    std::shared_ptr<const void> product;
    std::size_t bytes = 0;
};
// Makes a scan's digest of a text; pure: no log, no output, any thread.
using Digester = Digest (*)(std::string_view text);

// While one lives on a thread, the files it was given that several scans take are read once: a
// scan done with a text hands it back (`giveBack`, no copy), and the next read of that file is
// served from it, exactly as a read then would have come out unless the file changed in between
// (a scan cycle judges the folder as it first read it). Texts are kept only for reads still
// expected, only when no longer than `largestKept` bytes and only while all fit `budget` bytes;
// otherwise the next read reads the file. A text too long to keep is instead digested, when it
// is handed back, for each later scan of the file that said it takes a digest
// (`expectDigest`), while the digests fit `digestBudget` bytes: those scans take the digest
// (`takeDigest`) and do not read the file.
// Not shared between threads; scopes nest, the innermost one serving.
class SharedReads {
  public:
    // `expectedReads`: for each path, how many reads are expected in the scope (paths read
    // once need no entry).
    SharedReads(std::unordered_map<std::string, int> expectedReads, std::size_t budget,
                std::size_t largestKept = SIZE_MAX, std::size_t digestBudget = 0);
    ~SharedReads();
    SharedReads(const SharedReads&) = delete;
    SharedReads& operator=(const SharedReads&) = delete;

    // The calling thread's innermost scope, if any.
    static SharedReads* current();
    // A text read with readTextFileUpTo that its reader is done with; kept for the file's next
    // read if one is expected. Does nothing outside a scope.
    static void giveBack(const std::string& path, std::string text);

    // The read of `path` up to `limit`, served from a text given back, if there is one.
    std::optional<TextFileRead> serve(const std::string& path, std::uint64_t limit);
    // A buffer of `size` bytes for a fresh read, of unspecified content: for a text too long to
    // keep, the memory of one given back and not kept, so that large reads seldom zero-fill or
    // fault in fresh pages; otherwise newly allocated.
    std::string buffer(std::size_t size);
    // Counts a read made from the file, which found it `size` bytes long.
    void counted(const std::string& path, std::uint64_t size);

    // A later scan of `path` takes what `digester` makes of its text instead of reading it.
    void expectDigest(const std::string& path, Digester digester);
    // The digest `digester` made of `path`'s text as an earlier scan read it, in place of a read
    // up to `limit`: null when there is none (the scope is not serving, the file was not read
    // whole before, it was over `limit`, or the digests were over budget), and the caller reads
    // the file as usual. Either way the file is no longer digested for this digester.
    template <typename Product>
    static std::shared_ptr<const Product> takeDigest(const std::string& path, Digester digester,
                                                     std::uint64_t limit) {
        SharedReads* shared = current();
        return shared == nullptr ? nullptr
                                 : std::static_pointer_cast<const Product>(
                                       shared->takeDigestOf(path, digester, limit));
    }

    std::size_t keptBytes() const { return keptBytes_; }
    std::size_t digestBytes() const { return digestBytes_; }
    int served() const { return served_; }

  private:
    void keep(const std::string& path, std::string text);
    void digest(const std::string& path, std::string_view text);
    std::shared_ptr<const void> takeDigestOf(const std::string& path, Digester digester,
                                             std::uint64_t limit);

    std::unordered_map<std::string, int> expected_;
    struct Kept {
        std::string text;
        std::uint64_t size = 0;  // of the file, as its read found it
    };
    std::unordered_map<std::string, Kept> kept_;
    std::unordered_map<std::string, std::uint64_t> sizes_;  // of files read, for their texts
    std::size_t budget_;
    std::size_t largestKept_;
    std::size_t keptBytes_ = 0;
    std::string spare_;
    // Digesters still to run on a path's text, and the digests made, by path and digester.
    std::unordered_map<std::string, std::vector<Digester>> digesters_;
    struct Made {
        Digest digest;
        std::uint64_t size = 0;  // of the file, as its read found it
    };
    std::unordered_map<std::string, std::vector<std::pair<Digester, Made>>> digests_;
    std::size_t digestBudget_;
    std::size_t digestBytes_ = 0;
    int served_ = 0;
    SharedReads* outer_;
};

// A text read for a scan that goes back to the thread's SharedReads (giveBack) when it goes out
// of scope, for a reader that is done with it there. Move-only.
class TextLoan {
  public:
    TextLoan() = default;
    TextLoan(std::string path, std::optional<std::string> text)
        : path_(std::move(path)), text_(std::move(text)) {}
    ~TextLoan();
    TextLoan(TextLoan&& other) noexcept = default;
    TextLoan& operator=(TextLoan&&) = delete;
    TextLoan(const TextLoan&) = delete;
    TextLoan& operator=(const TextLoan&) = delete;

    explicit operator bool() const { return text_.has_value(); }
    const std::string& operator*() const { return *text_; }
    const std::string* operator->() const { return &*text_; }

  private:
    std::string path_;
    std::optional<std::string> text_;
};

// Decodes file bytes by the rules above; exposed for the fuzzers and tests.
std::string decodeText(std::string_view bytes);

}  // namespace quillon::platform
