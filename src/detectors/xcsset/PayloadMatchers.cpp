#include "detectors/xcsset/PayloadMatchers.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/TextScanning.h"

namespace quillon::detectors::xcsset {

using platform::Regex;

namespace {

constexpr std::array<bool, 256> makeTable(std::string_view extra) {
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

constexpr auto kRunBytes = makeTable("+/=");
constexpr auto kArgumentBytes = makeTable("+/=\n\r ");

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

// Finds, left to right, the positions where a letter stands in either case. Each case keeps
// its own next hit, so every byte is searched once however often we ask.
class LeadFinder {
  public:
    LeadFinder(std::string_view text, char lower)
        : text_(text), letters_{lower, static_cast<char>(lower - ('a' - 'A'))} {}

    std::size_t next(std::size_t from) {
        std::size_t best = std::string_view::npos;
        for (int i = 0; i < 2; ++i) {
            if (hits_[i] != std::string_view::npos && (hits_[i] < from || !searched_[i])) {
                hits_[i] = find(letters_[i], from);
                searched_[i] = true;
            }
            best = std::min(best, hits_[i]);
        }
        return best;
    }

  private:
    std::size_t find(char letter, std::size_t from) const {
        if (from >= text_.size()) {
            return std::string_view::npos;
        }
        const void* hit = std::memchr(text_.data() + from, letter, text_.size() - from);
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data())
                   : std::string_view::npos;
    }

    std::string_view text_;
    char letters_[2];
    std::size_t hits_[2] = {0, 0};
    bool searched_[2] = {false, false};
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
    LeadFinder leads(text, 'e');
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

    LeadFinder leads(text, 'p');
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
