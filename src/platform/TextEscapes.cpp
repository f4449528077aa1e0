#include "platform/TextEscapes.h"

namespace quillon::platform {

void appendUtf8(std::string& out, char32_t code) {
    if (code > 0x10FFFF) {
        code = 0xFFFD;
    }
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

std::string showControls(std::string_view text, bool keepLines) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\t' || (keepLines && c == '\n')) {
            out.push_back(keepLines ? c : ' ');
        } else if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 0xF]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string cutUtf8(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return std::string(text);
    }
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return std::string(text.substr(0, end)) + "\u2026";
}

}  // namespace quillon::platform
