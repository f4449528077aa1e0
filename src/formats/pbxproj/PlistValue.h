#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon::formats::pbxproj {

// One value of an old-style (OpenStep) property list, with the line it starts on. Strings keep
// their decoded text; `<data>` keeps its bytes in `text`. Texts are views into the text that was
// read (or into the document's storage where escapes had to be decoded): a value must not
// outlive its document and the text it was read from.
struct PlistEntry;

struct PlistValue {
    enum class Kind { string, data, array, dictionary };
    Kind kind = Kind::string;
    std::uint32_t line = 0;
    std::string_view text;
    std::vector<PlistValue> items;    // array
    std::vector<PlistEntry> entries;  // dictionary, in file order

    bool isString() const { return kind == Kind::string; }
    bool isDictionary() const { return kind == Kind::dictionary; }
    bool isArray() const { return kind == Kind::array; }

    // The first entry under `key` of a dictionary, or null.
    const PlistValue* find(std::string_view key) const;
    // The string under `key`, or empty.
    std::string_view string(std::string_view key) const;
};

struct PlistEntry {
    std::string_view key;
    PlistValue value;
};

// What the reader made of a file: everything it could read, and the first problem, if any.
// A file with an error still yields the values before it; truncated containers are kept with
// the entries read so far.
struct PlistDocument {
    PlistValue root;
    std::shared_ptr<std::deque<std::string>> storage;  // decoded texts the views point into
    std::string error;                                 // empty when the whole file was read
    std::uint32_t errorLine = 0;
};

// Reads an old-style property list: dictionaries, arrays, quoted strings with every escape
// Xcode writes (\n \t \" \\ \Uxxxx, octal), unquoted strings, <data>, and both comment forms.
// Linear in the input; containers nested deeper than `kMaxDepth` are skipped (not kept) and
// reported, so neither reading nor destroying the result can exhaust the stack. Never throws
// for bad input. Thread-safe: no shared state.
class PlistReader {
  public:
    static constexpr int kMaxDepth = 64;
    static PlistDocument read(std::string_view text);
    // The same, but a dictionary whose first entry is `isa` and for which `skip` (given the
    // dictionary's own key in its parent, and the isa) says so is stepped over (brackets
    // counted, strings skipped) and left out of its parent. Project files are mostly records
    // that a caller may not need.
    using SkipRule = std::function<bool(std::string_view key, std::string_view isa)>;
    static PlistDocument read(std::string_view text, const SkipRule& skip);
};

}  // namespace quillon::formats::pbxproj
