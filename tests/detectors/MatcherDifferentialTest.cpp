// The hand-written matchers against ICU, the engine the patterns are written for: on every
// text they must return the same matches, groups and order.
#include <gtest/gtest.h>

#include <random>

#include "detectors/xcodespy/ShellScriptBlockMatcher.h"
#include "detectors/xcsset/PayloadMatchers.h"
#include "platform/Regex.h"
#include "support/MatcherOracle.h"

namespace quillon::detectors {
namespace {

using testing::MatcherCase;
using testing::matcherCases;

class MatcherAgreesWithIcu : public ::testing::TestWithParam<MatcherCase> {};

TEST_P(MatcherAgreesWithIcu, OnCraftedTexts) {
    const MatcherCase& matcher = GetParam();
    for (const std::string& text : testing::craftedTexts()) {
        SCOPED_TRACE(testing::printable(text));
        ASSERT_EQ(testing::describe(matcher.handWritten(text), text),
                  testing::describe(matcher.oracle(text), text));
    }
}

TEST_P(MatcherAgreesWithIcu, OnSeededRandomTexts) {
    const MatcherCase& matcher = GetParam();
    std::mt19937 random(20261210);
    int withMatches = 0;
    for (int round = 0; round < 10000; ++round) {
        const std::string text = testing::randomText(random, matcher.keywords);
        const auto oracle = matcher.oracle(text);
        withMatches += oracle.empty() ? 0 : 1;
        const auto expected = testing::describe(oracle, text);
        const auto actual = testing::describe(matcher.handWritten(text), text);
        if (actual != expected) {
            FAIL() << "round " << round << " text " << testing::printable(text)
                   << "\nICU: " << expected << "\nours: " << actual;
        }
    }
    // The generator must reach the interesting cases, or agreement proves little.
    EXPECT_GT(withMatches, 500) << "texts with at least one match";
}

INSTANTIATE_TEST_SUITE_P(Patterns, MatcherAgreesWithIcu, ::testing::ValuesIn(matcherCases()),
                         [](const auto& row) { return row.param.name; });

}  // namespace
}  // namespace quillon::detectors
