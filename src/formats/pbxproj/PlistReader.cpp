#include <algorithm>
#include <array>
#include <cstring>

#include "formats/pbxproj/PlistValue.h"
#include "platform/ByteSearch.h"
#include "platform/TextEscapes.h"

namespace quillon::formats::pbxproj {

const PlistValue* PlistValue::find(std::string_view key) const {
    for (const auto& [name, value] : entries) {
        if (name == key) {
            return &value;
        }
    }
    return nullptr;
}

std::string_view PlistValue::string(std::string_view key) const {
    const PlistValue* value = find(key);
    return value != nullptr && value->isString() ? std::string_view(value->text)
                                                 : std::string_view();
}

namespace {

constexpr std::array<bool, 256> kUnquoted = [] {
    std::array<bool, 256> table{};
    for (int u = 0x80; u < 0x100; ++u) {
        table[static_cast<std::size_t>(u)] = true;
    }
    for (char x = 'a'; x <= 'z'; ++x) {
        table[static_cast<unsigned char>(x)] = true;
    }
    for (char x = 'A'; x <= 'Z'; ++x) {
        table[static_cast<unsigned char>(x)] = true;
    }
    for (char x = '0'; x <= '9'; ++x) {
        table[static_cast<unsigned char>(x)] = true;
    }
    // '/' too, where it starts no comment: readText sees to that.
    for (const char x : std::string_view("_$+:.-~@%!?&*^|\\[]#`'")) {
        table[static_cast<unsigned char>(x)] = true;
    }
    return table;
}();

constexpr std::array<bool, 256> kSpace = [] {
    std::array<bool, 256> table{};
    for (const char x : std::string_view(" \t\n\r\f\v")) {
        table[static_cast<unsigned char>(x)] = true;
    }
    return table;
}();

class Reader {
  public:
    Reader(std::string_view text, const PlistReader::SkipRule* skip)
        : text_(text), skip_(skip), storage_(std::make_shared<std::deque<std::string>>()) {}

    PlistDocument run() {
        PlistDocument document;
        if (text_.size() > UINT32_MAX) {
            // Offsets stand in for lines while reading; no project file comes near this.
            document.error = "property list too large";
            return document;
        }
        skipSpace();
        if (at_ >= text_.size()) {
            fail("empty property list");
        } else {
            readValue(document.root, 0);
            skipSpace();
            if (error_.empty() && at_ < text_.size()) {
                fail("unexpected text after the property list");
            }
        }
        numberLines(document.root);
        document.storage = storage_;
        if (!error_.empty()) {
            document.error = std::move(error_);
            document.errorLine = static_cast<std::uint32_t>(
                1 + platform::countByte(text_.substr(0, errorAt_), '\n'));
        }
        return document;
    }

  private:
    void fail(const char* message) {
        if (error_.empty()) {
            error_ = message;
            errorAt_ = at_;
        }
    }

    void advance() {
        if (at_ < text_.size()) {
            ++at_;
        }
    }

    // Where a value starts, turned into its line by numberLines once the whole tree is read:
    // one count over the text instead of one per value.
    std::uint32_t offset() const { return static_cast<std::uint32_t>(at_); }

    // Turns the offsets `offset()` left in the values into lines. Values in pre-order stand in
    // file order, so one forward count serves them all.
    void numberLines(PlistValue& value) {
        line_ += static_cast<std::uint32_t>(
            platform::countByte(text_.substr(counted_, value.line - counted_), '\n'));
        counted_ = value.line;
        value.line = line_;
        for (auto& item : value.items) {
            numberLines(item);
        }
        for (auto& entry : value.entries) {
            numberLines(entry.value);
        }
    }

    void skipSpace() {
        const char* data = text_.data();
        const std::size_t n = text_.size();
        while (at_ < n) {
            const char c = data[at_];
            if (kSpace[static_cast<unsigned char>(c)]) {
                std::size_t i = at_ + 1;
                while (i < n && kSpace[static_cast<unsigned char>(data[i])]) {
                    ++i;
                }
                at_ = i;
            } else if (c == '/' && at_ + 1 < text_.size() && text_[at_ + 1] == '/') {
                while (at_ < text_.size() && text_[at_] != '\n') {
                    ++at_;
                }
            } else if (c == '/' && at_ + 1 < text_.size() && text_[at_ + 1] == '*') {
                // Every object line carries one: stepped over by search, lines counted later.
                const std::size_t close = text_.find("*/", at_ + 2);
                if (close == std::string_view::npos) {
                    at_ = text_.size() - 1;
                    fail("unterminated comment");  // on the line the last byte stands on
                    at_ = text_.size();
                    return;
                }
                at_ = close + 2;
            } else {
                return;
            }
        }
    }

    // Steps to just after the '}' that closes the dictionary being read. Most of a project
    // file goes through here, so plain bytes are passed over by table and lines counted later.
    void skipRestOfDictionary() {
        static const platform::ByteSetFinder kSpecial("\"'{}()/");
        std::size_t depth = 1;
        std::size_t i = at_;
        const std::size_t n = text_.size();
        while (true) {
            i = kSpecial.next(text_, i);
            at_ = i;
            if (i >= n) {
                break;
            }
            const char c = text_[i];
            if (c == '"' || c == '\'') {
                std::string_view ignored;
                readQuoted(ignored);
                i = at_;
                continue;
            }
            if (c == '/') {
                if (atCommentStart()) {
                    skipSpace();
                    i = at_;
                } else {
                    at_ = ++i;
                }
                continue;
            }
            at_ = ++i;
            if (c == '{' || c == '(') {
                ++depth;
            } else if (--depth == 0) {
                return;
            }
        }
        fail("unterminated dictionary");
    }

    bool atCommentStart() const {
        return text_[at_] == '/' && at_ + 1 < text_.size() &&
               (text_[at_ + 1] == '/' || text_[at_ + 1] == '*');
    }

    // Skips one value too deep to keep: brackets are counted, strings stepped over.
    void skipNested() {
        std::size_t depth = 0;
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '"' || c == '\'') {
                std::string_view ignored;
                readQuoted(ignored);
                continue;
            }
            if (c == '{' || c == '(' || c == '<') {
                ++depth;
            } else if (c == '}' || c == ')' || c == '>') {
                advance();
                if (--depth == 0) {
                    return;
                }
                continue;
            }
            advance();
            if (depth == 0) {
                return;
            }
        }
    }

    // A quoted string: a view of the text when it holds no escape, else decoded into storage.
    void readQuoted(std::string_view& view) {
        const char quote = text_[at_];
        advance();
        std::size_t end = at_;
        while (end < text_.size() && text_[end] != quote && text_[end] != '\\') {
            ++end;
        }
        if (end < text_.size() && text_[end] == quote) {
            view = text_.substr(at_, end - at_);
            at_ = end + 1;
            return;
        }
        std::string out;
        readEscaped(out, quote);
        storage_->push_back(std::move(out));
        view = storage_->back();
    }

    void readEscaped(std::string& out, char quote) {
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == quote) {
                advance();
                return;
            }
            if (c != '\\') {
                out.push_back(c);
                advance();
                continue;
            }
            advance();
            if (at_ >= text_.size()) {
                break;
            }
            const char e = text_[at_];
            advance();
            if (const auto control = platform::controlEscape(e)) {
                out.push_back(*control);
                continue;
            }
            switch (e) {
                case 'U':
                case 'u': {
                    std::uint32_t code = 0;
                    int digits = 0;
                    while (digits < 4 && at_ < text_.size() &&
                           platform::hexDigitValue(text_[at_]) >= 0) {
                        code = code * 16 +
                               static_cast<std::uint32_t>(platform::hexDigitValue(text_[at_]));
                        ++at_;
                        ++digits;
                    }
                    platform::appendUtf8(out, digits == 0 ? static_cast<std::uint32_t>(e) : code);
                    break;
                }
                default:
                    if (e >= '0' && e <= '7') {
                        std::uint32_t code = static_cast<std::uint32_t>(e - '0');
                        int digits = 1;
                        while (digits < 3 && at_ < text_.size() && text_[at_] >= '0' &&
                               text_[at_] <= '7') {
                            code = code * 8 + static_cast<std::uint32_t>(text_[at_] - '0');
                            ++at_;
                            ++digits;
                        }
                        platform::appendUtf8(out, code & 0xFF);
                    } else {
                        out.push_back(e);
                    }
                    break;
            }
        }
        fail("unterminated string");
    }

    bool readString(PlistValue& value) {
        value.kind = PlistValue::Kind::string;
        value.line = offset();
        return readText(value.text);
    }

    // A quoted or unquoted string's text; false, with nothing read, where none starts.
    bool readText(std::string_view& text) {
        const char c = text_[at_];
        if (c == '"' || c == '\'') {
            readQuoted(text);
            return true;
        }
        const char* data = text_.data();
        const std::size_t start = at_;
        while (true) {
            std::size_t i = at_;
            while (i < text_.size() && kUnquoted[static_cast<unsigned char>(data[i])]) {
                ++i;
            }
            at_ = i;
            // A slash belongs to the string unless it starts a comment.
            if (at_ >= text_.size() || text_[at_] != '/' || atCommentStart()) {
                break;
            }
            ++at_;
        }
        if (at_ == start) {
            return false;
        }
        text = text_.substr(start, at_ - start);
        return true;
    }

    void readData(PlistValue& value) {
        value.kind = PlistValue::Kind::data;
        value.line = offset();
        advance();
        std::string bytes;
        int high = -1;
        while (at_ < text_.size() && text_[at_] != '>') {
            const int nibble = platform::hexDigitValue(text_[at_]);
            advance();
            if (nibble < 0) {
                continue;
            }
            if (high < 0) {
                high = nibble;
            } else {
                bytes.push_back(static_cast<char>(high * 16 + nibble));
                high = -1;
            }
        }
        storage_->push_back(std::move(bytes));
        value.text = storage_->back();
        if (at_ >= text_.size()) {
            fail("unterminated data");
            return;
        }
        advance();
    }

    void readValue(PlistValue& value, int depth) {
        skipSpace();
        if (at_ >= text_.size()) {
            fail("unexpected end of file");
            return;
        }
        const char c = text_[at_];
        if ((c == '{' || c == '(') && depth >= PlistReader::kMaxDepth) {
            fail("nesting too deep");
            value.line = offset();
            skipNested();
            return;
        }
        if (c == '{') {
            readDictionary(value, depth);
        } else if (c == '(') {
            readArray(value, depth);
        } else if (c == '<') {
            readData(value);
        } else if (!readString(value)) {
            fail("unexpected character");
            advance();
        }
    }

    void readDictionary(PlistValue& value, int depth) {
        const std::string_view ownKey = currentKey_;
        value.kind = PlistValue::Kind::dictionary;
        value.line = offset();
        advance();
        while (true) {
            skipSpace();
            if (at_ >= text_.size()) {
                fail("unterminated dictionary");
                return;
            }
            if (text_[at_] == '}') {
                advance();
                return;
            }
            std::string_view key;
            if (!readText(key)) {
                fail("expected a key");
                advance();
                continue;
            }
            skipSpace();
            if (at_ >= text_.size()) {
                fail("unterminated dictionary");
                return;
            }
            if (text_[at_] != '=') {
                fail("expected '='");
                continue;
            }
            advance();
            PlistValue entry;
            currentKey_ = key;
            skipped_ = false;
            readValue(entry, depth + 1);
            currentKey_ = {};
            const bool skip = skip_ != nullptr && value.entries.empty() && entry.isString() &&
                              key == "isa" && (*skip_)(ownKey, entry.text);
            if (skip) {
                // Neither this dictionary nor its entry in the parent is kept.
                skipRestOfDictionary();
                skipped_ = true;
                return;
            }
            if (!skipped_) {
                value.entries.push_back({key, std::move(entry)});
            }
            skipped_ = false;
            skipSpace();
            if (at_ < text_.size() && text_[at_] == ';') {
                advance();
            } else if (at_ < text_.size() && text_[at_] != '}') {
                fail("expected ';'");
            }
        }
    }

    void readArray(PlistValue& value, int depth) {
        value.kind = PlistValue::Kind::array;
        value.line = offset();
        advance();
        while (true) {
            skipSpace();
            if (at_ >= text_.size()) {
                fail("unterminated array");
                return;
            }
            if (text_[at_] == ')') {
                advance();
                return;
            }
            const std::size_t before = at_;
            PlistValue item;
            readValue(item, depth + 1);
            value.items.push_back(std::move(item));
            skipSpace();
            if (at_ < text_.size() && text_[at_] == ',') {
                advance();
            } else if (at_ < text_.size() && text_[at_] != ')') {
                fail("expected ','");
                if (at_ == before) {
                    advance();
                }
            }
        }
    }

    std::string_view text_;
    const PlistReader::SkipRule* skip_;
    std::string_view currentKey_;
    bool skipped_ = false;  // the value just read was a skipped dictionary
    std::shared_ptr<std::deque<std::string>> storage_;
    std::size_t at_ = 0;
    std::uint32_t line_ = 1;  // the line at `counted_`, while numbering
    std::size_t counted_ = 0;
    std::string error_;
    std::size_t errorAt_ = 0;
};

}  // namespace

PlistDocument PlistReader::read(std::string_view text) {
    return Reader(text, nullptr).run();
}

PlistDocument PlistReader::read(std::string_view text, const SkipRule& skip) {
    return Reader(text, &skip).run();
}

}  // namespace quillon::formats::pbxproj
