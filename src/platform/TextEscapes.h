#pragma once

#include <optional>
#include <string>
#include <string_view>

// Small pieces every reader of escaped text needs: property lists, shell quotes, printf.
namespace quillon::platform {

// Appends `code` as UTF-8; beyond U+10FFFF, U+FFFD.
void appendUtf8(std::string& out, char32_t code);

// 0-15 for a hex digit, -1 otherwise.
constexpr int hexDigitValue(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

// The control character of a C escape letter: n t r a b f v.
constexpr std::optional<char> controlEscape(char letter) {
    switch (letter) {
        case 'n':
            return '\n';
        case 't':
            return '\t';
        case 'r':
            return '\r';
        case 'a':
            return '\a';
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case 'v':
            return '\v';
        default:
            return std::nullopt;
    }
}

// At most `limit` bytes of `text`, cut before a UTF-8 continuation byte, with "…" appended when
// anything was cut.
std::string cutUtf8(std::string_view text, std::size_t limit);

// Text for people, with the control characters that would move a terminal's cursor or hide
// text shown as "\x1b" escapes. `keepLines`: line feeds and tabs stay (a multi-line box);
// otherwise tabs become spaces and line feeds are escaped too (one line).
std::string showControls(std::string_view text, bool keepLines);

}  // namespace quillon::platform
