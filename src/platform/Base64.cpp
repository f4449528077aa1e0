#include "platform/Base64.h"

#include <array>
#include <cstdint>

namespace quillon::platform {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> makeDecodeTable() {
    std::array<int8_t, 256> table{};
    for (auto& entry : table)
        entry = -1;
    for (int i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    }
    return table;
}

constexpr std::array<int8_t, 256> kDecode = makeDecodeTable();

}  // namespace

std::optional<std::string> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = (text.size() >= 2 && text[text.size() - 2] == '=') ? 2 : 1;
    }
    std::string out;
    out.reserve(text.size() / 4 * 3);
    const std::size_t dataLength = text.size() - padding;
    uint32_t accumulator = 0;
    int bits = 0;
    for (std::size_t i = 0; i < dataLength; ++i) {
        const int8_t value = kDecode[static_cast<unsigned char>(text[i])];
        if (value < 0) {
            return std::nullopt;  // includes "=" before the padding positions
        }
        accumulator = (accumulator << 6) | static_cast<uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((accumulator >> bits) & 0xFF));
        }
    }
    return out;
}

std::string encodeBase64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    const auto at = [&](std::size_t k) {
        return static_cast<uint32_t>(static_cast<unsigned char>(bytes[k]));
    };
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = (at(i) << 16) | (at(i + 1) << 8) | at(i + 2);
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(kAlphabet[(v >> 6) & 63]);
        out.push_back(kAlphabet[v & 63]);
    }
    if (bytes.size() - i == 1) {
        const uint32_t v = at(i) << 16;
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.append("==");
    } else if (bytes.size() - i == 2) {
        const uint32_t v = (at(i) << 16) | (at(i + 1) << 8);
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(kAlphabet[(v >> 6) & 63]);
        out.push_back('=');
    }
    return out;
}

}  // namespace quillon::platform
