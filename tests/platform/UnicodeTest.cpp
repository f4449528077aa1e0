#include "platform/Unicode.h"

#include <gtest/gtest.h>

namespace quillon::platform {
namespace {

TEST(Unicode, Utf8Validation) {
    struct Case {
        const char* name;
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"ascii", "plain text that is long enough for the word path", true},
        {"twoByte", "caf\xC3\xA9", true},
        {"fourByte", "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", true},
        {"nul", std::string("a\0b", 3), true},
        {"loneContinuation", "\x80", false},
        {"overlong", "\xC0\xAF", false},
        {"overlongThree", "\xE0\x80\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"aboveMax", "\xF4\x90\x80\x80", false},
        {"truncated", "abc\xE2\x82", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isValidUtf8(c.bytes), c.valid);
    }
}

TEST(Unicode, LowercaseIsFullAndRootLocale) {
    EXPECT_EQ(lowercase("CHMOD +X"), "chmod +x");
    EXPECT_EQ(lowercase("\u00C9CHO"), "\u00E9cho");
    // Dotted capital I becomes i + combining dot in the root locale (not Turkish rules).
    EXPECT_EQ(lowercase("\u0130"), "i\u0307");
    EXPECT_EQ(lowercase("\u212A"), "k");
}

TEST(Unicode, CaseFoldingForComparisons) {
    EXPECT_EQ(foldCase("CuRL"), "curl");
    EXPECT_EQ(foldCase("\u017F"), "s");
    EXPECT_TRUE(containsFolded(foldCase("BA\u017FH"), "bash"));
}

TEST(Unicode, PrefixByGraphemeClusters) {
    const std::string thumb = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";  // thumbs up + skin tone
    struct Case {
        const char* name;
        std::string text;
        std::size_t count;
        std::string expected;
    };
    const Case cases[] = {
        {"shorter", "abc", 5, "abc"},
        {"ascii", "abcdef", 3, "abc"},
        {"crlfIsOneCluster", "a\r\nbc", 2, "a\r\n"},
        {"combiningMark", "e\u0301e\u0301e", 2, "e\u0301e\u0301"},
        {"emojiWithModifier", "ab" + thumb + "cd", 3, "ab" + thumb},
        {"asciiThenMark", "abe\u0301", 3, "abe\u0301"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(prefixGraphemes(c.text, c.count), c.expected);
    }
}

TEST(Unicode, TrimsWhitespaceAndNewlinesOnly) {
    EXPECT_EQ(trimWhitespaceAndNewlines(" \t\n\v\f\r\u0085\u00A0\u2028\u2029\u3000x y\u2003 "),
              "x y");
    EXPECT_EQ(trimWhitespaceAndNewlines("\u200Bx"), "\u200Bx");  // zero width space is Cf
    EXPECT_EQ(trimWhitespaceAndNewlines("  "), "");
    EXPECT_EQ(trimWhitespaceAndNewlines(""), "");
}

TEST(Unicode, ReplaceAllLiteral) {
    EXPECT_EQ(replaceAllLiteral("aaa", "aa", "b"), "ba");
    EXPECT_EQ(replaceAllLiteral(R"(echo \"hi\")", R"(\")", "\""), R"(echo "hi")");
    EXPECT_EQ(replaceAllLiteral("none", "x", "y"), "none");
}

}  // namespace
}  // namespace quillon::platform
