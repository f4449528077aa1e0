#pragma once

#include <array>
#include <cstddef>
#include <string_view>

// Building blocks for hand-written matchers that must agree exactly with ICU's regular
// expressions on valid UTF-8 text. Pure functions; thread-safe.
namespace quillon::platform {

// A byte table holding the ASCII letters and digits and the bytes of `extra`.
constexpr std::array<bool, 256> alphanumericTable(std::string_view extra) {
    std::array<bool, 256> table{};
    for (int c = 'A'; c <= 'Z'; ++c)
        table[static_cast<std::size_t>(c)] = true;
    for (int c = 'a'; c <= 'z'; ++c)
        table[static_cast<std::size_t>(c)] = true;
    for (int c = '0'; c <= '9'; ++c)
        table[static_cast<std::size_t>(c)] = true;
    for (char c : extra)
        table[static_cast<unsigned char>(c)] = true;
    return table;
}

struct CodePoint {
    char32_t value = 0;
    std::size_t length = 0;  // bytes; 0 at the end of the text
};

// The code point starting at `at` (which must be a code-point boundary of valid UTF-8).
inline CodePoint decodeAt(std::string_view text, std::size_t at) {
    if (at >= text.size()) {
        return {};
    }
    const auto b0 = static_cast<unsigned char>(text[at]);
    if (b0 < 0x80) {
        return {b0, 1};
    }
    const auto next = [&](std::size_t k) {
        return at + k < text.size()
                   ? static_cast<char32_t>(static_cast<unsigned char>(text[at + k]) & 0x3F)
                   : char32_t{0};
    };
    if (b0 < 0xE0) {
        return {((b0 & 0x1Fu) << 6) | next(1), 2};
    }
    if (b0 < 0xF0) {
        return {((b0 & 0x0Fu) << 12) | (next(1) << 6) | next(2), 3};
    }
    return {((b0 & 0x07u) << 18) | (next(1) << 12) | (next(2) << 6) | next(3), 4};
}

// ICU's \s: the White_Space property.
inline bool isRegexWhitespace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// The end of the run of ICU white space that starts at `at`.
inline std::size_t skipRegexWhitespace(std::string_view text, std::size_t at) {
    while (true) {
        const CodePoint c = decodeAt(text, at);
        if (c.length == 0 || !isRegexWhitespace(c.value)) {
            return at;
        }
        at += c.length;
    }
}

// What ICU's `.` does not match without the dot-all option.
inline bool isRegexLineTerminator(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// ASCII letters compared without case; what ICU's case-insensitive matching does for the
// letters of our patterns' literals, except that "s" also matches U+017F (long s) and "k"
// also matches U+212A (Kelvin sign). Returns the bytes matched at `at`, or 0.
inline std::size_t matchFoldedLetter(std::string_view text, std::size_t at, char lower) {
    if (at >= text.size()) {
        return 0;
    }
    const char c = text[at];
    if (c == lower || c == static_cast<char>(lower - ('a' - 'A'))) {
        return 1;
    }
    if (lower == 's' && text.substr(at, 2) == "\xC5\xBF") {
        return 2;
    }
    if (lower == 'k' && text.substr(at, 3) == "\xE2\x84\xAA") {
        return 3;
    }
    return 0;
}

// Matches an ASCII literal (given in lower case) without case at `at`; returns the bytes
// matched, or 0.
inline std::size_t matchFoldedLiteral(std::string_view text, std::size_t at,
                                      std::string_view lowerLiteral) {
    std::size_t length = 0;
    for (char letter : lowerLiteral) {
        const std::size_t step = (letter >= 'a' && letter <= 'z')
                                     ? matchFoldedLetter(text, at + length, letter)
                                     : (at + length < text.size() && text[at + length] == letter);
        if (step == 0) {
            return 0;
        }
        length += step;
    }
    return length;
}

}  // namespace quillon::platform
