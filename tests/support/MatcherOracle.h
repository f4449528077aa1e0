#pragma once

#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Regex.h"

// ICU as the oracle for the hand-written matchers: shared by the differential tests and the
// fuzz targets.
namespace quillon::detectors::testing {

struct MatcherCase {
    std::string name;
    std::string pattern;
    unsigned flags = platform::Regex::none;
    std::function<std::vector<platform::Regex::Match>(std::string_view)> handWritten;
    std::vector<std::string> keywords;  // pieces random texts are built from, besides the alphabet

    std::vector<platform::Regex::Match> oracle(std::string_view text) const;
};

// Every detector pattern that has a hand-written matcher.
const std::vector<MatcherCase>& matcherCases();

// "[begin,end) g1=[b,e) ..." per match, one line each: equal strings mean equal results.
std::string describe(const std::vector<platform::Regex::Match>& matches, std::string_view text);
// Random valid UTF-8 from an alphabet of the characters where engines differ, the patterns'
// keywords, quotes, base64 runs and white space of every kind.
std::string randomText(std::mt19937& random, const std::vector<std::string>& keywords);
// Hand-picked texts at the edges of each pattern.
const std::vector<std::string>& craftedTexts();
// The text with control and non-ASCII characters escaped, for failure messages.
std::string printable(std::string_view text);

}  // namespace quillon::detectors::testing
