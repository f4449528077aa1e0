#include "detectors/xcodespy/VariableSubstitution.h"

#include <gtest/gtest.h>

#include <random>

#include "support/MatcherOracle.h"
#include "support/ReferenceSubstitution.h"

namespace quillon::detectors::xcodespy {
namespace {

using Table = std::vector<std::pair<std::string, std::string>>;

void expectSameAsReference(std::string_view script, const Table& table, std::size_t limit) {
    std::vector<std::string> expectedPasses;
    const auto expected = testing::referenceSubstitution(script, table, limit, &expectedPasses);
    std::vector<std::string> passes;
    const auto actual = substituteVariables(
        script, table, limit, [&](std::int64_t, const auto& text) { passes.push_back(text()); });
    ASSERT_EQ(passes, expectedPasses) << testing::printable(script);
    EXPECT_EQ(actual.text, expected.text);
    EXPECT_EQ(actual.passes, expected.passes);
    EXPECT_EQ(actual.limited, expected.limited);
}

TEST(VariableSubstitution, CraftedCases) {
    const struct {
        const char* name;
        std::string script;
        Table table;
        std::size_t limit;
    } cases[] = {
        {"empty", "", {}, 100},
        {"prefixOfLongerName", "$ab $a $abc", {{"a", "X"}, {"ab", "Y"}}, 100},
        {"longerNameFirst", "$ab $a", {{"ab", "Y"}, {"a", "X"}}, 100},
        {"runGrowsIntoValue", "$x$b", {{"b", "yz"}, {"xy", "Q"}}, 100},
        {"valueMakesEarlierToken", "$b", {{"a", "A"}, {"b", "$a"}}, 100},
        {"adjacentSame", "$a$a$a", {{"a", "a"}}, 100},
        {"selfReference", "$a", {{"a", "x$a"}}, 100},
        {"doubling", "$a", {{"a", "$a$a"}}, 200},
        {"limitMidPass", "$a $a $a $a", {{"a", "0123456789"}}, 30},
        {"limitStopsLaterEntries", "$a $b", {{"a", "0123456789"}, {"b", "B"}}, 10},
        {"emptyValueJoinsNeighbours", "$x$a_1", {{"a", ""}, {"x_1", "hit"}}, 100},
        {"braces", "${a} $a", {{"a", "v"}}, 100},
        {"dollarAtEnd", "a$", {{"a", "v"}}, 100},
        {"valueEndsInDollar", "$a b", {{"a", "x$"}, {"b", "y"}}, 100},
        {"valueAllIdentifierAfterDollarPiece", "$q$a!", {{"a", "bc"}, {"qbc", "Z"}}, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectSameAsReference(c.script, c.table, c.limit);
    }
}

TEST(VariableSubstitution, SeededRandomScripts) {
    std::mt19937 random(424242);
    const std::vector<std::string> names = {"a", "b", "ab", "ba", "a_1", "x", "_", "aa"};
    const std::vector<std::string> pieces = {"$", "$a", "$b", "$ab", "${a}", "a", "b", "_",
                                             "1", " ",  "'",  "\"",  "$$",   "x", "=", "\u00E9"};
    std::uniform_int_distribution<int> pieceCount(0, 25);
    std::uniform_int_distribution<std::size_t> pickPiece(0, pieces.size() - 1);
    std::uniform_int_distribution<std::size_t> pickName(0, names.size() - 1);
    std::uniform_int_distribution<int> tableSize(0, 5);
    std::uniform_int_distribution<int> valueCount(0, 4);
    std::uniform_int_distribution<std::size_t> limitExtra(0, 80);
    const auto randomText = [&](int count) {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += pieces[pickPiece(random)];
        return text;
    };
    int limited = 0;
    int multiPass = 0;
    for (int round = 0; round < 20000; ++round) {
        const std::string script = randomText(pieceCount(random));
        Table table;
        for (int i = tableSize(random); i > 0; --i) {
            const std::string name = names[pickName(random)];
            if (std::none_of(table.begin(), table.end(),
                             [&](const auto& e) { return e.first == name; })) {
                table.emplace_back(name, randomText(valueCount(random)));
            }
        }
        SCOPED_TRACE(round);
        const std::size_t limit = script.size() + limitExtra(random);
        expectSameAsReference(script, table, limit);
        if (::testing::Test::HasFailure()) {
            return;
        }
        const auto outcome = testing::referenceSubstitution(script, table, limit);
        limited += outcome.limited ? 1 : 0;
        multiPass += outcome.passes > 2 ? 1 : 0;
    }
    // The generator must reach the limit and chains of passes, or agreement proves little.
    EXPECT_GT(limited, 200);
    EXPECT_GT(multiPass, 200);
}

}  // namespace
}  // namespace quillon::detectors::xcodespy
