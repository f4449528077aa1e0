#include "analysis/shell/Decoders.h"

#include "platform/TextEscapes.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

namespace quillon::analysis::shell {

namespace {

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+' || c == '-') {
        return 62;
    }
    if (c == '/' || c == '_') {
        return 63;
    }
    return -1;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Expands a tr set: ranges, escapes and the common classes.
std::string expandSet(std::string_view set) {
    std::string chars;
    bool stop = false;
    const std::string plain = interpretEscapes(set, false, &stop);
    static const std::pair<std::string_view, std::string_view> kClasses[] = {
        {"[:lower:]", "abcdefghijklmnopqrstuvwxyz"},
        {"[:upper:]", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
        {"[:digit:]", "0123456789"},
        {"[:space:]", " \t\n\r\f\v"},
        {"[:blank:]", " \t"},
        {"[:alpha:]", "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"},
        {"[:alnum:]", "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"},
        {"[:punct:]", "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~"},
    };
    for (std::size_t i = 0; i < plain.size();) {
        bool matched = false;
        for (const auto& [name, members] : kClasses) {
            if (std::string_view(plain).substr(i, name.size()) == name) {
                chars.append(members);
                i += name.size();
                matched = true;
                break;
            }
        }
        if (matched) {
            continue;
        }
        if (i + 2 < plain.size() && plain[i + 1] == '-') {
            const auto from = static_cast<unsigned char>(plain[i]);
            const auto to = static_cast<unsigned char>(plain[i + 2]);
            for (unsigned c = from; c <= to && to >= from; ++c) {
                chars.push_back(static_cast<char>(c));
            }
            i += 3;
            continue;
        }
        chars.push_back(plain[i]);
        ++i;
    }
    return chars;
}

}  // namespace

Decoded decodeBase64Lenient(std::string_view text, std::size_t limit) {
    Decoded out;
    std::uint32_t buffer = 0;
    int bits = 0;
    std::size_t digits = 0;
    for (const char c : text) {
        if (isSpace(c)) {
            continue;
        }
        if (c == '=') {
            break;
        }
        const int value = base64Value(c);
        if (value < 0) {
            out.ok = digits > 0;
            break;
        }
        ++digits;
        buffer = (buffer << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            if (out.bytes.size() >= limit) {
                out.truncated = true;
                break;
            }
            out.bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    if (digits == 0) {
        out.ok = false;
    }
    return out;
}

Decoded decodeHexPlain(std::string_view text, std::size_t limit) {
    Decoded out;
    int high = -1;
    std::size_t digits = 0;
    for (const char c : text) {
        const int value = platform::hexDigitValue(c);
        if (value < 0) {
            continue;
        }
        ++digits;
        if (high < 0) {
            high = value;
            continue;
        }
        if (out.bytes.size() >= limit) {
            out.truncated = true;
            break;
        }
        out.bytes.push_back(static_cast<char>(high * 16 + value));
        high = -1;
    }
    out.ok = digits >= 2;
    return out;
}

Decoded inflate(std::string_view bytes, std::size_t limit) {
    Decoded out;
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 32) != Z_OK) {
        out.ok = false;
        return out;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(std::min<std::size_t>(bytes.size(), 1u << 30));
    std::array<char, 16384> chunk{};
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
        stream.avail_out = static_cast<uInt>(chunk.size());
        status = ::inflate(&stream, Z_NO_FLUSH);
        const std::size_t produced = chunk.size() - stream.avail_out;
        const std::size_t room = limit - out.bytes.size();
        out.bytes.append(chunk.data(), std::min(produced, room));
        if (produced > room) {
            out.truncated = true;
            break;
        }
        if (status == Z_BUF_ERROR && stream.avail_in == 0) {
            break;
        }
    }
    if (status != Z_STREAM_END && !out.truncated && out.bytes.empty()) {
        out.ok = false;
    }
    inflateEnd(&stream);
    return out;
}

std::string reverseLines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool newline = end != std::string_view::npos;
        if (!newline) {
            end = text.size();
        }
        std::string line(text.substr(start, end - start));
        std::reverse(line.begin(), line.end());
        out.append(line);
        if (newline) {
            out.push_back('\n');
        }
        start = end + 1;
    }
    return out;
}

std::string translate(std::string_view text, std::string_view from, std::string_view to,
                      bool remove, bool complement) {
    const std::string source = expandSet(from);
    std::array<bool, 256> inSet{};
    for (const char c : source) {
        inSet[static_cast<unsigned char>(c)] = true;
    }
    if (complement) {
        for (auto& member : inSet) {
            member = !member;
        }
    }
    std::string out;
    out.reserve(text.size());
    if (remove) {
        for (const char c : text) {
            if (!inSet[static_cast<unsigned char>(c)]) {
                out.push_back(c);
            }
        }
        return out;
    }
    const std::string target = expandSet(to);
    std::array<int, 256> map{};
    map.fill(-1);
    if (!target.empty() && !complement) {
        for (std::size_t i = 0; i < source.size(); ++i) {
            const char replacement = i < target.size() ? target[i] : target.back();
            map[static_cast<unsigned char>(source[i])] = static_cast<unsigned char>(replacement);
        }
    }
    for (const char c : text) {
        const int mapped = map[static_cast<unsigned char>(c)];
        out.push_back(mapped >= 0 ? static_cast<char>(mapped) : c);
    }
    return out;
}

std::string interpretEscapes(std::string_view text, bool octalNeedsZero, bool* stop) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' || i + 1 >= text.size()) {
            out.push_back(c);
            continue;
        }
        const char e = text[++i];
        if (const auto control = platform::controlEscape(e)) {
            out.push_back(*control);
            continue;
        }
        switch (e) {
            case 'e':
                out.push_back('\x1b');
                break;
            case '\\':
                out.push_back('\\');
                break;
            case 'c':
                if (stop != nullptr) {
                    *stop = true;
                }
                return out;
            case 'x': {
                int value = 0;
                int digits = 0;
                while (digits < 2 && i + 1 < text.size() &&
                       platform::hexDigitValue(text[i + 1]) >= 0) {
                    value = value * 16 + platform::hexDigitValue(text[++i]);
                    ++digits;
                }
                if (digits == 0) {
                    out.append("\\x");
                } else {
                    out.push_back(static_cast<char>(value));
                }
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    int value = 0;
                    int digits = 0;
                    std::size_t j = i;
                    const int most = (octalNeedsZero && e == '0') ? 4 : 3;
                    if (octalNeedsZero && e != '0') {
                        // echo -e reads \0NNN only; \1 stays as written.
                        out.push_back('\\');
                        out.push_back(e);
                        break;
                    }
                    while (digits < most && j < text.size() && text[j] >= '0' && text[j] <= '7') {
                        value = value * 8 + (text[j] - '0');
                        ++j;
                        ++digits;
                    }
                    i = j - 1;
                    out.push_back(static_cast<char>(value & 0xFF));
                } else {
                    out.push_back('\\');
                    out.push_back(e);
                }
                break;
        }
    }
    return out;
}

std::string formatPrintf(std::string_view format, const std::vector<std::string>& arguments,
                         std::size_t limit) {
    std::string out;
    std::size_t next = 0;
    bool stop = false;
    do {
        const std::size_t usedBefore = next;
        for (std::size_t i = 0; i < format.size() && !stop; ++i) {
            if (out.size() >= limit) {
                return out;
            }
            const char c = format[i];
            if (c == '\\') {
                std::size_t j = i + 1;
                if (j < format.size() && format[j] >= '0' && format[j] <= '7') {
                    while (j < format.size() && j < i + 4 && format[j] >= '0' && format[j] <= '7') {
                        ++j;
                    }
                } else if (j < format.size() && format[j] == 'x') {
                    ++j;
                    while (j < format.size() && j < i + 4 &&
                           platform::hexDigitValue(format[j]) >= 0) {
                        ++j;
                    }
                } else {
                    j = std::min(format.size(), j + 1);
                }
                out.append(interpretEscapes(format.substr(i, j - i), false, &stop));
                i = j - 1;
                continue;
            }
            if (c != '%' || i + 1 >= format.size()) {
                out.push_back(c);
                continue;
            }
            if (format[i + 1] == '%') {
                out.push_back('%');
                ++i;
                continue;
            }
            std::size_t j = i + 1;
            std::string directive = "%";
            while (j < format.size() &&
                   std::string_view("-+ #0123456789.").find(format[j]) != std::string_view::npos) {
                directive.push_back(format[j++]);
            }
            if (j >= format.size()) {
                out.append(format.substr(i));
                break;
            }
            const char conversion = format[j];
            const std::string argument = next < arguments.size() ? arguments[next] : std::string();
            if (next < arguments.size()) {
                ++next;
            }
            if (directive.size() > 12) {
                directive.resize(12);  // widths beyond any sense are dropped
            }
            switch (conversion) {
                case 's':
                    out.append(argument);
                    break;
                case 'b':
                    out.append(interpretEscapes(argument, true, &stop));
                    break;
                case 'c':
                    if (!argument.empty()) {
                        out.push_back(argument[0]);
                    }
                    break;
                case 'd':
                case 'i':
                case 'u':
                case 'x':
                case 'X':
                case 'o': {
                    long long number = 0;
                    if (!argument.empty() && (argument[0] == '\'' || argument[0] == '"') &&
                        argument.size() > 1) {
                        number = static_cast<unsigned char>(argument[1]);
                    } else {
                        number = std::strtoll(argument.c_str(), nullptr, 0);
                    }
                    char buffer[64];
                    directive.append(conversion == 'd' || conversion == 'i' ? "lld" : "ll");
                    if (conversion != 'd' && conversion != 'i') {
                        directive.push_back(conversion);
                    }
                    std::snprintf(buffer, sizeof buffer, directive.c_str(), number);
                    out.append(buffer);
                    break;
                }
                default:
                    out.append(format.substr(i, j - i + 1));
                    break;
            }
            i = j;
        }
        if (next == usedBefore) {
            break;  // the format used no argument: printing it again would repeat forever
        }
    } while (next < arguments.size() && !stop && out.size() < limit);
    if (out.size() > limit) {
        out.resize(limit);
    }
    return out;
}

bool looksBase64(std::string_view text, std::size_t minimum) {
    std::size_t run = 0;
    for (const char c : text) {
        if (base64Value(c) >= 0 || c == '=') {
            if (++run >= minimum) {
                return true;
            }
        } else if (!isSpace(c)) {
            run = 0;
        }
    }
    return false;
}

bool looksHex(std::string_view text, std::size_t minimum) {
    std::size_t run = 0;
    for (const char c : text) {
        if (platform::hexDigitValue(c) >= 0) {
            if (++run >= minimum) {
                return true;
            }
        } else {
            run = 0;
        }
    }
    return false;
}

double printableShare(std::string_view bytes) {
    if (bytes.empty()) {
        return 0;
    }
    std::size_t printable = 0;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 0x20 && u < 0x7F) || c == '\n' || c == '\t' || c == '\r') {
            ++printable;
        }
    }
    return static_cast<double>(printable) / static_cast<double>(bytes.size());
}

}  // namespace quillon::analysis::shell
