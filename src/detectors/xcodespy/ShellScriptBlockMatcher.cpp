#include "detectors/xcodespy/ShellScriptBlockMatcher.h"

#include "platform/ByteSearch.h"
#include "platform/TextScanning.h"

namespace quillon::detectors::xcodespy {

using platform::Regex;

void findShellScriptBlocks(std::string_view text,
                           const std::function<bool(const Regex::Match&)>& visit) {
    // Where the first `";` at or after a position is; openings only move forward, so one
    // forward search serves them all.
    std::size_t closer = 0;
    bool closerKnown = false;
    std::size_t at = 0;
    while (at < text.size()) {
        // "shellScript" starts with s or S and then h or H, or with the long s (C5 BF), which
        // folds to s; nothing else can begin it.
        static const platform::FoldedLeadFinder leads("sh", 0xC5);
        at = leads.next(text, at);
        if (at == std::string_view::npos) {
            break;
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
