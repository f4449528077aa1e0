#include "detectors/xcsset/PayloadMatchers.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "platform/TextScanning.h"

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

// Finds, left to right, where the first three letters of a lower-case ASCII literal stand in
// any case, eight positions per step: the three letters together are rare in project files,
// where single letters are everywhere.
class LeadFinder {
  public:
    LeadFinder(std::string_view text, std::string_view literal) : text_(text) {
        for (int k = 0; k < 3; ++k) {
            letters_[k] = static_cast<unsigned char>(literal[static_cast<std::size_t>(k)]);
        }
    }

    std::size_t next(std::size_t from) const {
        constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
        constexpr std::uint64_t kLows = 0x7F7F7F7F7F7F7F7FULL;
        constexpr std::uint64_t kCase = 0x2020202020202020ULL;
        // 0x80 in exactly the bytes of `v` that are zero.
        const auto zeroBytes = [](std::uint64_t v) { return ~(((v & kLows) + kLows) | v | kLows); };
        std::size_t at = from;
        for (; at + 10 <= text_.size(); at += 8) {
            std::uint64_t hits = ~std::uint64_t{0};
            for (int k = 0; k < 3; ++k) {
                std::uint64_t word;
                std::memcpy(&word, text_.data() + at + static_cast<std::size_t>(k), 8);
                hits &= zeroBytes((word | kCase) ^ (letters_[k] * kOnes));
            }
            if (hits != 0) {
                return at + static_cast<std::size_t>(__builtin_ctzll(hits) / 8);
            }
        }
        for (; at + 3 <= text_.size(); ++at) {
            bool match = true;
            for (int k = 0; k < 3 && match; ++k) {
                match = (static_cast<unsigned char>(text_[at + static_cast<std::size_t>(k)]) |
                         0x20) == letters_[k];
            }
            if (match) {
                return at;
            }
        }
        return std::string_view::npos;
    }

  private:
    std::string_view text_;
    unsigned char letters_[3] = {};
};

}  // namespace

void findStandaloneRuns(std::string_view text, const MatchVisitor& visit) {
    std::size_t at = 0;
    while (at < text.size()) {
        if (!kRunBytes[static_cast<unsigned char>(text[at])]) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < text.size() && kRunBytes[static_cast<unsigned char>(text[end])]) {
            ++end;
        }
        // A maximal run: shorter ones cannot match from any of their positions.
        if (end - at >= 40) {
            Regex::Match match;
            match.begin = at;
            match.end = end;
            if (!visit(match)) {
                return;
            }
        }
        at = end;
    }
}

void findEchoArguments(std::string_view text, const MatchVisitor& visit) {
    const LeadFinder leads(text, "echo");
    std::size_t at = 0;
    while ((at = leads.next(at)) != std::string_view::npos) {
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

    const LeadFinder leads(text, "printf");
    std::size_t at = 0;
    while ((at = leads.next(at)) != std::string_view::npos) {
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
