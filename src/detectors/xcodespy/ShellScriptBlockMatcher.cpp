#include "detectors/xcodespy/ShellScriptBlockMatcher.h"

#include <cstdint>
#include <cstring>

#include "platform/TextScanning.h"

namespace quillon::detectors::xcodespy {

using platform::Regex;

namespace {

// Whether any of eight bytes is s, S or 0xC5 (the word tricks of "find a zero byte").
bool mayStartHere(const char* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, 8);
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    const auto hasZeroByte = [](std::uint64_t v) { return ((v - kOnes) & ~v & kHighs) != 0; };
    // Setting bit 5 folds S onto s; no other byte becomes 0x73 that way.
    return hasZeroByte((word | 0x2020202020202020ULL) ^ (0x73 * kOnes)) ||
           hasZeroByte(word ^ (0xC5 * kOnes));
}

}  // namespace

void findShellScriptBlocks(std::string_view text,
                           const std::function<bool(const Regex::Match&)>& visit) {
    // Where the first `";` at or after a position is; openings only move forward, so one
    // forward search serves them all.
    std::size_t closer = 0;
    bool closerKnown = false;
    std::size_t at = 0;
    while (at < text.size()) {
        // "shellScript" starts with s, S or the long s (C5 BF); nothing else can begin it.
        // Eight bytes at a time while none of them can.
        while (at + 8 <= text.size() && !mayStartHere(text.data() + at)) {
            at += 8;
        }
        if (at >= text.size()) {
            break;
        }
        const char c = text[at];
        if (c != 's' && c != 'S' && c != '\xC5') {
            ++at;
            continue;
        }
        const std::size_t literal = platform::matchFoldedLiteral(text, at, "shellscript");
        if (literal == 0) {
            ++at;
            continue;
        }
        // White space, "=" and the quote are disjoint, so the longest white space runs are the
        // only ones that can be followed by what comes next.
        std::size_t cursor = platform::skipRegexWhitespace(text, at + literal);
        if (cursor >= text.size() || text[cursor] != '=') {
            at += literal;
            continue;
        }
        cursor = platform::skipRegexWhitespace(text, cursor + 1);
        if (cursor >= text.size() || text[cursor] != '"') {
            at += literal;
            continue;
        }
        const std::size_t open = cursor + 1;
        if (!closerKnown || closer < open) {
            closer = text.find("\";", open);
            closerKnown = true;
        }
        if (closer == std::string_view::npos) {
            return;  // no later opening can close either
        }
        Regex::Match match;
        match.begin = at;
        match.end = closer + 2;
        match.groups.assign(1, Regex::Group{open, closer, true});
        if (!visit(match)) {
            return;
        }
        at = match.end;
    }
}

}  // namespace quillon::detectors::xcodespy
