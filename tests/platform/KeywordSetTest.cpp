#include "platform/KeywordSet.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/Unicode.h"

namespace quillon::platform {
namespace {

TEST(KeywordSet, FindsOverlappingAndNestedKeywords) {
    const KeywordSet set({"sh", "bash", "chmod +x", "https://", "http://", "base64"});
    EXPECT_EQ(set.find(""), 0u);
    EXPECT_EQ(set.find("bash"), 0b11u);       // "sh" inside "bash"
    EXPECT_EQ(set.find("CHMOD +X"), 0b100u);  // letters without case
    EXPECT_EQ(set.find("chmod  +x"), 0u);
    EXPECT_EQ(set.find("see https://x"), 0b1000u);  // "http://" is not inside "https://"
    EXPECT_EQ(set.find("base6base64"), 0b100000u);  // a restart inside a partial match
    EXPECT_EQ(set.find("b\xC3\xA1sh"), 0b1u);       // other bytes compare exactly
}

TEST(KeywordSet, AnEmptyKeywordOccursEverywhere) {
    const KeywordSet set({"", "ab"});
    EXPECT_EQ(set.find(""), 0b1u);
    EXPECT_EQ(set.find("xaby"), 0b11u);
    EXPECT_EQ(set.find(std::string(5000, 'b') + "AB"), 0b11u);
}

TEST(KeywordSet, KeywordsAcrossTheStretchesOfALongText) {
    const KeywordSet set({"launchdaemons", "curl", "zz"});
    for (std::size_t at = 0; at < 4200; at += 7) {
        std::string text(4200, '.');
        text.replace(at, 13, "LaunchDaemons");
        text.resize(4200);
        SCOPED_TRACE(at);
        EXPECT_EQ(set.find(text) & 1, at + 13 <= 4200 ? 1u : 0u);
    }
    std::string text(100000, 'a');
    text.replace(99996, 4, "curl");
    EXPECT_EQ(set.find(text), 0b10u);
    text.replace(0, 2, "zz");
    EXPECT_EQ(set.find(text), 0b110u);
}

TEST(KeywordSet, AgreesWithSearchingEachKeyword) {
    const std::vector<std::string_view> keywords = {"curl", "sh", "bash", "ssh", "abab", "ba", "x"};
    const KeywordSet set(keywords);
    std::mt19937 random(5);
    const std::string alphabet = "abcshlurxSHABX \xC3";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 40);
    std::uniform_int_distribution<int> longLength(300, 3000);  // the many-stretch path
    for (int round = 0; round < 22000; ++round) {
        std::string text;
        for (int i = round < 20000 ? length(random) : longLength(random); i > 0; --i) {
            text += alphabet[pick(random)];
        }
        std::uint64_t expected = 0;
        std::string folded;  // ASCII lowering byte by byte, as the set applies it
        for (char c : text)
            folded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        for (std::size_t k = 0; k < keywords.size(); ++k) {
            if (folded.find(keywords[k]) != std::string::npos)
                expected |= std::uint64_t{1} << k;
        }
        ASSERT_EQ(set.find(text), expected) << text;
    }
}

}  // namespace
}  // namespace quillon::platform
