#include "platform/Regex.h"

#include <unicode/regex.h>
#include <unicode/utext.h>
#include <unicode/utypes.h>

#include "platform/Log.h"

namespace quillon::platform {

struct Regex::Compiled {
    std::unique_ptr<icu::RegexPattern> pattern;
};

namespace {

struct UTextCloser {
    void operator()(UText* text) const { utext_close(text); }
};

void logRuntimeFailure(UErrorCode status, const std::string& pattern) {
    static const Logger logger("com.quillon", "Regex");
    logger.error("Regular expression search stopped early: %s in %s", u_errorName(status), pattern);
}

}  // namespace

std::optional<std::string_view> Regex::Match::group(std::string_view subject,
                                                    std::size_t number) const {
    if (number == 0 || number > groups.size() || !groups[number - 1].matched) {
        return std::nullopt;
    }
    const Group& g = groups[number - 1];
    return subject.substr(g.begin, g.end - g.begin);
}

std::optional<Regex> Regex::compile(std::string_view pattern, unsigned flags, std::string* error) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    uint32_t icuFlags = 0;
    if (flags & caseInsensitive) {
        icuFlags |= UREGEX_CASE_INSENSITIVE;
    }
    UText* patternText =
        utext_openUTF8(nullptr, pattern.data(), static_cast<int64_t>(pattern.size()), &status);
    std::unique_ptr<UText, UTextCloser> patternOwner(patternText);
    std::unique_ptr<icu::RegexPattern> compiled;
    if (U_SUCCESS(status)) {
        compiled.reset(icu::RegexPattern::compile(patternText, icuFlags, parseError, status));
    }
    if (U_FAILURE(status) || !compiled) {
        if (error) {
            *error = u_errorName(status);
        }
        return std::nullopt;
    }
    std::unique_ptr<icu::RegexMatcher> probe(compiled->matcher(status));
    if (U_FAILURE(status) || !probe) {
        if (error) {
            *error = u_errorName(status);
        }
        return std::nullopt;
    }
    Regex regex;
    regex.groupCount_ = static_cast<std::size_t>(probe->groupCount());
    regex.compiled_ = std::make_shared<Compiled>(Compiled{std::move(compiled)});
    regex.pattern_ = std::string(pattern);
    return regex;
}

void Regex::forEachMatch(std::string_view text,
                         const std::function<bool(const Match&)>& visit) const {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UText, UTextCloser> input(
        utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
    if (U_FAILURE(status)) {
        logRuntimeFailure(status, pattern_);
        return;
    }
    std::unique_ptr<icu::RegexMatcher> matcher(compiled_->pattern->matcher(status));
    if (U_FAILURE(status) || !matcher) {
        logRuntimeFailure(status, pattern_);
        return;
    }
    matcher->reset(input.get());
    // No limit: ICU's default stops long matches with a stack overflow, silently losing them.
    matcher->setStackLimit(0, status);
    Match match;
    match.groups.resize(groupCount_);
    while (matcher->find(status)) {
        match.begin = static_cast<std::size_t>(matcher->start64(status));
        match.end = static_cast<std::size_t>(matcher->end64(status));
        for (std::size_t g = 0; g < groupCount_; ++g) {
            const auto number = static_cast<int32_t>(g + 1);
            const int64_t begin = matcher->start64(number, status);
            Group& group = match.groups[g];
            group.matched = begin >= 0;
            group.begin = group.matched ? static_cast<std::size_t>(begin) : 0;
            group.end =
                group.matched ? static_cast<std::size_t>(matcher->end64(number, status)) : 0;
        }
        if (U_FAILURE(status)) {
            break;
        }
        if (!visit(match)) {
            return;
        }
    }
    if (U_FAILURE(status)) {
        logRuntimeFailure(status, pattern_);
    }
}

std::vector<Regex::Match> Regex::findAll(std::string_view text) const {
    std::vector<Match> matches;
    forEachMatch(text, [&](const Match& match) {
        matches.push_back(match);
        return true;
    });
    return matches;
}

std::size_t Regex::countMatches(std::string_view text) const {
    std::size_t count = 0;
    forEachMatch(text, [&](const Match&) {
        ++count;
        return true;
    });
    return count;
}

std::string Regex::replaceAll(std::string_view text, std::string_view replacement) const {
    std::string out;
    std::size_t copied = 0;
    bool replaced = false;
    forEachMatch(text, [&](const Match& match) {
        replaced = true;
        out.append(text.substr(copied, match.begin - copied));
        out.append(replacement);
        copied = match.end;
        return true;
    });
    if (!replaced) {
        return std::string(text);
    }
    out.append(text.substr(copied));
    return out;
}

}  // namespace quillon::platform
