#include "detectors/xcsset/PayloadMatchers.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "platform/ByteSearch.h"
#include "platform/TextScanning.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUILLON_WIDE_VECTORS 1
#include <immintrin.h>
#endif

namespace quillon::detectors::xcsset {

using platform::Regex;

namespace {

constexpr auto kRunBytes = platform::alphanumericTable("+/=");
constexpr auto kArgumentBytes = platform::alphanumericTable("+/=\n\r ");

bool isQuote(char c) {
    return c == '"' || c == '\'';
}

// Length in bytes and code points of the longest run of argument characters at `at`. Under
// case-insensitive matching the class also holds U+017F and U+212A, which fold to s and k.
struct Run {
    std::size_t bytes = 0;
    std::size_t characters = 0;
};
Run argumentRun(std::string_view text, std::size_t at) {
    Run run;
    while (at + run.bytes < text.size()) {
        const auto byte = static_cast<unsigned char>(text[at + run.bytes]);
        std::size_t step = 0;
        if (kArgumentBytes[byte]) {
            step = 1;
        } else if (text.substr(at + run.bytes, 2) == "\xC5\xBF") {
            step = 2;
        } else if (text.substr(at + run.bytes, 3) == "\xE2\x84\xAA") {
            step = 3;
        } else {
            break;
        }
        run.bytes += step;
        ++run.characters;
    }
    return run;
}

// The quoted argument at a quote, if its run has at least 20 characters and is closed by a
// quote: fills the match's end and group.
bool quotedArgument(std::string_view text, std::size_t quote, Regex::Match& match) {
    if (quote >= text.size() || !isQuote(text[quote])) {
        return false;
    }
    const Run run = argumentRun(text, quote + 1);
    const std::size_t close = quote + 1 + run.bytes;
    if (run.characters < 20 || close >= text.size() || !isQuote(text[close])) {
        return false;
    }
    match.end = close + 1;
    match.groups.assign(1, Regex::Group{quote + 1, close, true});
    return true;
}

}  // namespace

namespace {

#ifdef QUILLON_WIDE_VECTORS
// Unsigned `low <= byte < low + count` with signed comparisons.
__attribute__((target("avx2"))) __m256i inRange(__m256i bytes, char low, char count) {
    const __m256i shifted = _mm256_add_epi8(bytes, _mm256_set1_epi8(static_cast<char>(-128 - low)));
    return _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(-128 + count)), shifted);
}

// Which of the 32 bytes at `data` are run bytes, one bit each.
__attribute__((target("avx2"))) std::uint32_t runBytes(const char* data) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data));
    // Setting bit 5 maps exactly the upper-case letters onto the lower-case ones.
    const __m256i letters = inRange(_mm256_or_si256(bytes, _mm256_set1_epi8(0x20)), 'a', 26);
    const __m256i digits = inRange(bytes, '0', 10);
    const __m256i signs =
        _mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('+')),
                        _mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('/')),
                                        _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('='))));
    return static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_or_si256(letters, _mm256_or_si256(digits, signs))));
}

// Two sixteen-byte stretches per step on processors with AVX2, on the same grid, passing over
// full stretches that no run of 40 can hold. The first full stretch of such a run has at least
// twelve run bytes on one side, since the run's other 24 or more bytes lie on its two sides
// and fewer than sixteen before it; the identifiers of a project file (24 hex digits) never
// do. Returns the first stretch that may start one, or sets `at` to where the steps ended and
// returns npos.
__attribute__((target("avx2"))) std::size_t wideFullStretch(std::string_view text,
                                                            std::size_t& at) {
    const char* data = text.data();
    const std::size_t n = text.size();
    std::uint32_t previous = 0;  // no run found from `at` starts before it
    for (; at + 32 <= n; at += 32) {
        const std::uint32_t mask = runBytes(data + at);
        if ((mask & 0xFFFF) == 0xFFFF &&
            ((previous & 0xFFF00000) == 0xFFF00000 || (mask & 0x0FFF0000) == 0x0FFF0000)) {
            return at;
        }
        if ((mask >> 16) == 0xFFFF && ((mask & 0xFFF0) == 0xFFF0 || at + 64 > n ||
                                       (runBytes(data + at + 32) & 0x0FFF) == 0x0FFF)) {
            return at + 16;
        }
        previous = mask;
    }
    return std::string_view::npos;
}

#endif

// Where the next stretch of sixteen run bytes starts, stepping sixteen bytes from `from`:
// a run of 40 or more holds at least one such stretch on any sixteen-byte grid, while the
// short words and identifiers that fill a project file mostly do not.
std::size_t nextFullStretch(std::string_view text, std::size_t from) {
    std::size_t at = from;
#ifdef QUILLON_WIDE_VECTORS
    if (platform::hasWideVectors()) {
        const std::size_t found = wideFullStretch(text, at);
        if (found != std::string_view::npos) {
            return found;
        }
    }
#endif
#if defined(__SSE2__)
    const char* data = text.data();
    const auto inRange = [](__m128i bytes, char low, char count) {
        // Unsigned `low <= byte < low + count` with signed comparisons.
        const __m128i shifted = _mm_add_epi8(bytes, _mm_set1_epi8(static_cast<char>(-128 - low)));
        return _mm_cmplt_epi8(shifted, _mm_set1_epi8(static_cast<char>(-128 + count)));
    };
    for (; at + 16 <= text.size(); at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        // Setting bit 5 maps exactly the upper-case letters onto the lower-case ones.
        const __m128i letters = inRange(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), 'a', 26);
        const __m128i digits = inRange(bytes, '0', 10);
        const __m128i signs = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('+')),
                                           _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('/')),
                                                        _mm_cmpeq_epi8(bytes, _mm_set1_epi8('='))));
        if (_mm_movemask_epi8(_mm_or_si128(letters, _mm_or_si128(digits, signs))) == 0xFFFF) {
            return at;
        }
    }
#else
    for (; at + 16 <= text.size(); at += 16) {
        std::size_t k = 0;
        while (k < 16 && kRunBytes[static_cast<unsigned char>(text[at + k])]) {
            ++k;
        }
        if (k == 16) {
            return at;
        }
    }
#endif
    return std::string_view::npos;
}

}  // namespace

void findStandaloneRuns(std::string_view text, const MatchVisitor& visit) {
    const auto isRunByte = [&](std::size_t i) {
        return kRunBytes[static_cast<unsigned char>(text[i])];
    };
    // Runs are maximal: a shorter one cannot match from any of its positions, and the byte
    // before a run found here is never a run byte, so no run is reported twice.
    std::size_t at = 0;
    while (true) {
        const std::size_t stretch = nextFullStretch(text, at);
        if (stretch == std::string_view::npos) {
            return;
        }
        std::size_t begin = stretch;
        while (begin > at && isRunByte(begin - 1)) {
            --begin;
        }
        std::size_t end = stretch + 16;
        while (end < text.size() && isRunByte(end)) {
            ++end;
        }
        if (end - begin >= 40) {
            Regex::Match match;
            match.begin = begin;
            match.end = end;
            if (!visit(match)) {
                return;
            }
        }
        at = end;
    }
}

void findEchoArguments(std::string_view text, const MatchVisitor& visit) {
    // The first three letters together are rare in project files; single letters are not.
    static const platform::FoldedLeadFinder leads("ech");
    std::size_t at = 0;
    while ((at = leads.next(text, at)) != std::string_view::npos) {
        const std::size_t literal = platform::matchFoldedLiteral(text, at, "echo");
        if (literal == 0) {
            ++at;
            continue;
        }
        // White space and quotes are disjoint, so backtracking cannot help: the longest white
        // space run must be followed by the opening quote.
        const std::size_t spaceEnd = platform::skipRegexWhitespace(text, at + literal);
        Regex::Match match;
        match.begin = at;
        if (spaceEnd > at + literal && quotedArgument(text, spaceEnd, match)) {
            if (!visit(match)) {
                return;
            }
            at = match.end;
            continue;
        }
        at += literal;
    }
}

void findPrintfArguments(std::string_view text, const MatchVisitor& visit) {
    // After "printf" and its white space, `.*` backtracks from the end of the line: the match
    // uses the rightmost quote of that line whose argument qualifies. That quote is a property
    // of the line alone, so it is found once per line, however many printf commands share it.
    std::size_t lineStart = std::string_view::npos;  // the line whose answer is cached
    std::size_t lineEnd = 0;
    std::size_t lineQuote = std::string_view::npos;  // its rightmost qualifying quote
    Regex::Match lineMatch;

    const auto endOfLine = [&](std::size_t from) {
        while (true) {
            const platform::CodePoint c = platform::decodeAt(text, from);
            if (c.length == 0 || platform::isRegexLineTerminator(c.value)) {
                return from;
            }
            from += c.length;
        }
    };

    static const platform::FoldedLeadFinder leads("pri");
    std::size_t at = 0;
    while ((at = leads.next(text, at)) != std::string_view::npos) {
        const std::size_t literal = platform::matchFoldedLiteral(text, at, "printf");
        if (literal == 0) {
            ++at;
            continue;
        }
        const std::size_t spaceEnd = platform::skipRegexWhitespace(text, at + literal);
        if (spaceEnd == at + literal) {
            at += literal;
            continue;
        }
        if (lineStart == std::string_view::npos || spaceEnd >= lineEnd || spaceEnd < lineStart) {
            lineStart = spaceEnd;
            lineEnd = endOfLine(spaceEnd);
            lineQuote = std::string_view::npos;
            // Quotes from the right; each argument run stops at the next quote, so the scan of
            // the line is linear.
            for (std::size_t q = lineEnd; q-- > spaceEnd;) {
                if (isQuote(text[q]) && quotedArgument(text, q, lineMatch)) {
                    lineQuote = q;
                    break;
                }
            }
        }
        if (lineQuote != std::string_view::npos && lineQuote >= spaceEnd) {
            Regex::Match match = lineMatch;
            match.begin = at;
            if (!visit(match)) {
                return;
            }
            // The cache stays right: no qualifying quote lies right of the one just used.
            at = match.end;
            continue;
        }
        at += literal;
    }
}

}  // namespace quillon::detectors::xcsset
