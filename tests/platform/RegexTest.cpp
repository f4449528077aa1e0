#include "platform/Regex.h"

#include <gtest/gtest.h>

#include "support/LogCapture.h"

namespace quillon::platform {
namespace {

TEST(Regex, CompileErrorsAreValues) {
    std::string error;
    EXPECT_FALSE(Regex::compile("([a-z", Regex::none, &error).has_value());
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(Regex::compile("[a-z]+").has_value());
}

TEST(Regex, MatchesAndGroupsAreByteOffsetsIntoUtf8) {
    const auto regex = Regex::compile(R"((\w+)=(\d+)?)");
    ASSERT_TRUE(regex);
    const std::string text = "\xC3\xA9t\xC3\xA9=1 x=";
    const auto matches = regex->findAll(text);
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_EQ(matches[0].text(text), "\xC3\xA9t\xC3\xA9=1");
    EXPECT_EQ(matches[0].group(text, 1), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(matches[0].group(text, 2), "1");
    EXPECT_EQ(matches[1].group(text, 1), "x");
    EXPECT_FALSE(matches[1].group(text, 2).has_value());
    EXPECT_FALSE(matches[1].group(text, 3).has_value());
}

TEST(Regex, IcuSemantics) {
    struct Case {
        const char* name;
        const char* pattern;
        unsigned flags;
        std::string text;
        std::size_t count;
    };
    const Case cases[] = {
        {"whitespaceIncludesLineBreaks", R"(a\sb)", Regex::none, "a\nb a\rb a\u2028b a\u3000b", 4},
        {"dotStopsAtLineTerminators", "a.b", Regex::none, "a\nb a\rb a\u0085b a\u2028b axb", 1},
        {"caseInsensitiveFoldsLongS", "shell", Regex::caseInsensitive, "SHELL \u017Fhell", 2},
        {"caseInsensitiveKelvin", "k", Regex::caseInsensitive, "K \u212A k", 3},
        {"wordBoundary", R"(\bab)", Regex::none, "ab xab _ab", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto regex = Regex::compile(c.pattern, c.flags);
        ASSERT_TRUE(regex);
        EXPECT_EQ(regex->countMatches(c.text), c.count);
    }
}

TEST(Regex, ReplaceAllIsLiteral) {
    const auto regex = Regex::compile(R"(eval\s+["'])");
    ASSERT_TRUE(regex);
    EXPECT_EQ(regex->replaceAll("eval \"x\"; eval  'y'", "$1"), "$1x\"; $1y'");
    EXPECT_EQ(regex->replaceAll("nothing", ""), "nothing");
}

TEST(Regex, LongMatchIsNotLostToTheBacktrackingStack) {
    testing::LogCapture log;
    const auto regex = Regex::compile("[A-Za-z0-9+/=]{40,}");
    ASSERT_TRUE(regex);
    const std::string run(4 << 20, 'A');
    const auto matches = regex->findAll("-" + run + "-");
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0].end - matches[0].begin, run.size());
    EXPECT_TRUE(log.messages("Regex").empty());
}

}  // namespace
}  // namespace quillon::platform
