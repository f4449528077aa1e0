#include "platform/Unicode.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace quillon::platform {

namespace {

std::string asciiLowercase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](char c) {
        return static_cast<char>(asciiFold(static_cast<unsigned char>(c)));
    });
    return out;
}

bool isTrimmable(UChar32 c) {
    return c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029 ||
           u_charType(c) == U_SPACE_SEPARATOR;
}

}  // namespace

namespace {

// Whether the 32 bytes at `bytes` are all ASCII: four words folded into one test, since this
// runs over every scanned file, most of which is ASCII.
bool asciiBlock(const char* bytes) {
    std::uint64_t words[4];
    std::memcpy(words, bytes, sizeof words);
    return ((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080ULL) == 0;
}

constexpr std::size_t kAsciiBlock = 32;

}  // namespace

bool isAscii(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    for (; i + kAsciiBlock <= n; i += kAsciiBlock) {
        if (!asciiBlock(text.data() + i)) {
            return false;
        }
    }
    for (; i < n; ++i) {
        if (static_cast<unsigned char>(text[i]) & 0x80) {
            return false;
        }
    }
    return true;
}

bool isValidUtf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        if (i + kAsciiBlock <= n && asciiBlock(bytes.data() + i)) {
            i += kAsciiBlock;
            continue;
        }
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0;  // overlong
            if (c == 0xED)
                high = 0x9F;  // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;  // overlong
            if (c == 0xF4)
                high = 0x8F;  // above U+10FFFF
        } else {
            return false;
        }
        if (i + length > n || s[i + 1] < low || s[i + 1] > high) {
            return false;
        }
        for (std::size_t k = 2; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

std::string latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

std::string lowercase(std::string_view text) {
    if (isAscii(text)) {
        return asciiLowercase(text);
    }
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toLower(icu::Locale::getRoot());
    std::string out;
    unicode.toUTF8String(out);
    return out;
}

std::string foldCase(std::string_view text) {
    if (isAscii(text)) {
        return asciiLowercase(text);
    }
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.foldCase(U_FOLD_CASE_DEFAULT);
    std::string out;
    unicode.toUTF8String(out);
    return out;
}

bool containsFolded(std::string_view foldedText, std::string_view needle) {
    return foldedText.find(foldCase(needle)) != std::string_view::npos;
}

std::string_view prefixGraphemes(std::string_view text, std::size_t count) {
    if (text.size() <= count) {
        // Never more clusters than bytes.
        return text;
    }
    if (isAscii(text.substr(0, count + 1)) &&
        text.substr(0, count + 1).find('\r') == std::string_view::npos) {
        // In ASCII every byte is a cluster of its own, except a CR LF pair.
        return text.substr(0, count);
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaker(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) {
        return text;
    }
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) {
        return text;
    }
    breaker->setText(utext, status);
    int32_t boundary = 0;
    for (std::size_t i = 0; i < count && boundary != icu::BreakIterator::DONE; ++i) {
        boundary = breaker->next();
    }
    utext_close(utext);
    if (boundary == icu::BreakIterator::DONE) {
        return text;
    }
    return text.substr(0, static_cast<std::size_t>(boundary));
}

std::string_view trimWhitespaceAndNewlines(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    while (begin < end) {
        int32_t next = static_cast<int32_t>(begin);
        UChar32 c;
        U8_NEXT(s, next, static_cast<int32_t>(end), c);
        if (c < 0 || !isTrimmable(c)) {
            break;
        }
        begin = static_cast<std::size_t>(next);
    }
    while (end > begin) {
        int32_t previous = static_cast<int32_t>(end);
        UChar32 c;
        U8_PREV(s, static_cast<int32_t>(begin), previous, c);
        if (c < 0 || !isTrimmable(c)) {
            break;
        }
        end = static_cast<std::size_t>(previous);
    }
    return text.substr(begin, end - begin);
}

}  // namespace quillon::platform

namespace quillon::platform {

std::string replaceAllLiteral(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    std::size_t copied = 0;
    for (std::size_t at = text.find(from); at != std::string_view::npos;
         at = text.find(from, at + from.size())) {
        out.append(text.substr(copied, at - copied));
        out.append(to);
        copied = at + from.size();
    }
    if (copied == 0) {
        return std::string(text);
    }
    out.append(text.substr(copied));
    return out;
}

}  // namespace quillon::platform
