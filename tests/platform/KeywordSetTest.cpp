#include "platform/KeywordSet.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/Unicode.h"

namespace quillon::platform {

void PrintTo(KeywordSet::Engine engine, std::ostream* out) {
    *out << static_cast<int>(engine);
}

namespace {

// Every test runs against each engine this processor supports; `find` picks one of them.
class KeywordSetEngines : public ::testing::TestWithParam<KeywordSet::Engine> {
  protected:
    void SetUp() override {
        if (!KeywordSet::supports(GetParam())) {
            GTEST_SKIP() << "not supported by this processor";
        }
    }
    std::uint64_t find(const KeywordSet& set, std::string_view text) const {
        return set.findWith(GetParam(), text);
    }
};

TEST_P(KeywordSetEngines, FindsOverlappingAndNestedKeywords) {
    const KeywordSet set({"sh", "bash", "chmod +x", "https://", "http://", "base64"});
    EXPECT_EQ(find(set, ""), 0u);
    EXPECT_EQ(find(set, "bash"), 0b11u);       // "sh" inside "bash"
    EXPECT_EQ(find(set, "CHMOD +X"), 0b100u);  // letters without case
    EXPECT_EQ(find(set, "chmod  +x"), 0u);
    EXPECT_EQ(find(set, "see https://x"), 0b1000u);  // "http://" is not inside "https://"
    EXPECT_EQ(find(set, "base6base64"), 0b100000u);  // a restart inside a partial match
    EXPECT_EQ(find(set, "b\xC3\xA1sh"), 0b1u);       // other bytes compare exactly
}

TEST_P(KeywordSetEngines, AnEmptyKeywordOccursEverywhere) {
    const KeywordSet set({"", "ab"});
    EXPECT_EQ(find(set, ""), 0b1u);
    EXPECT_EQ(find(set, "xaby"), 0b11u);
    EXPECT_EQ(find(set, std::string(5000, 'b') + "AB"), 0b11u);
}

TEST_P(KeywordSetEngines, KeywordsAcrossTheStretchesOfALongText) {
    const KeywordSet set({"launchdaemons", "curl", "zz"});
    for (std::size_t at = 0; at < 4200; at += 7) {
        std::string text(4200, '.');
        text.replace(at, 13, "LaunchDaemons");
        text.resize(4200);
        SCOPED_TRACE(at);
        EXPECT_EQ(find(set, text) & 1, at + 13 <= 4200 ? 1u : 0u);
    }
    std::string text(100000, 'a');
    text.replace(99996, 4, "curl");
    EXPECT_EQ(find(set, text), 0b10u);
    text.replace(0, 2, "zz");
    EXPECT_EQ(find(set, text), 0b110u);
}

// Seeded random texts against a plain search of each keyword. The second set is the
// detector's, with more three-byte prefixes than the prefilter has buckets; its alphabet holds
// the bytes that differ from letters by one bit (@ [ ` {) and those of the keywords' other
// characters.
TEST_P(KeywordSetEngines, AgreesWithSearchingEachKeyword) {
    struct Case {
        std::vector<std::string_view> keywords;
        std::string alphabet;
    };
    const std::vector<Case> cases = {
        {{"curl", "sh", "bash", "ssh", "abab", "ba", "x"}, "abcshlurxSHABX \xC3"},
        {{"curl", "bash", "sh", "base64", "echo", "chmod +x", "chmod 777", "http://", "https://",
          "shellscript", "runscript", "pbxshellscriptbuildphase", "launchctl", "launchagents",
          "launchdaemons"},
         "abcdehlmnoprstuxABCHLSX +7:/64@[`{\xC3\x8C"},
    };
    for (const Case& c : cases) {
        const KeywordSet set(c.keywords);
        std::mt19937 random(5);
        std::uniform_int_distribution<std::size_t> pick(0, c.alphabet.size() - 1);
        std::uniform_int_distribution<int> length(0, 40);
        std::uniform_int_distribution<int> longLength(300,
                                                      3000);  // the vector and many-stretch paths
        for (int round = 0; round < 22000; ++round) {
            std::string text;
            for (int i = round < 20000 ? length(random) : longLength(random); i > 0; --i) {
                text += c.alphabet[pick(random)];
            }
            std::uint64_t expected = 0;
            std::string folded;  // ASCII lowering byte by byte, as the set applies it
            for (char ch : text)
                folded += (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch;
            for (std::size_t k = 0; k < c.keywords.size(); ++k) {
                if (folded.find(c.keywords[k]) != std::string::npos)
                    expected |= std::uint64_t{1} << k;
            }
            ASSERT_EQ(find(set, text), expected) << text;
        }
    }
}

TEST(KeywordSet, FindUsesAnEngineThatAgrees) {
    const KeywordSet set({"launchagents", "curl"});
    const std::string text = std::string(1000, '.') + "LaunchAgents";
    EXPECT_EQ(set.find(text), 0b1u);
    EXPECT_EQ(set.find("curl"), 0b10u);
}

INSTANTIATE_TEST_SUITE_P(Engines, KeywordSetEngines,
                         ::testing::Values(KeywordSet::Engine::automaton,
                                           KeywordSet::Engine::shuffles),
                         [](const auto& row) {
                             switch (row.param) {
                                 case KeywordSet::Engine::automaton:
                                     return std::string("automaton");
                                 case KeywordSet::Engine::shuffles:
                                     return std::string("shuffles");
                             }
                             return std::string("unknown");
                         });

}  // namespace
}  // namespace quillon::platform
