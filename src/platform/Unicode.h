#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text services over UTF-8 strings, backed by ICU where Unicode data is needed. All functions
// are pure and thread-safe. Inputs must be valid UTF-8 unless a function says otherwise.
namespace quillon::platform {

bool isAscii(std::string_view text);
// Whether `c` is an ASCII letter; and the ASCII lowercase of a byte, other bytes unchanged.
constexpr bool isAsciiLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
constexpr unsigned char asciiFold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}
// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. Any bytes accepted.
bool isValidUtf8(std::string_view bytes);
// Every byte taken as the code point of the same value. Any bytes accepted.
std::string latin1ToUtf8(std::string_view bytes);

// Full Unicode lowercase mapping in the root locale (one code point may become several).
std::string lowercase(std::string_view text);
// Full Unicode case folding, the form case-insensitive comparisons are made in.
std::string foldCase(std::string_view text);
// True when `needle` occurs in `text` ignoring case; `foldedText` must come from foldCase.
bool containsFolded(std::string_view foldedText, std::string_view needle);

// The first `count` user-perceived characters (extended grapheme clusters) of the text, or
// the whole text when it has fewer.
std::string_view prefixGraphemes(std::string_view text, std::size_t count);

// Removes white space and line breaks from both ends: general category Zs, U+0009,
// U+000A..U+000D, U+0085, U+2028 and U+2029.
std::string_view trimWhitespaceAndNewlines(std::string_view text);

}  // namespace quillon::platform

namespace quillon::platform {

// Every occurrence of `from` (non-empty), left to right without overlap, replaced by `to`.
std::string replaceAllLiteral(std::string_view text, std::string_view from, std::string_view to);

}  // namespace quillon::platform
