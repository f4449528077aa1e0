#include "platform/ByteSearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/Unicode.h"

namespace quillon::platform {
namespace {

std::size_t plainNext(std::string_view text, std::size_t from, std::string_view lead,
                      int alternative) {
    for (std::size_t at = from; at < text.size(); ++at) {
        if (alternative >= 0 && static_cast<unsigned char>(text[at]) == alternative) {
            return at;
        }
        bool match = at + lead.size() <= text.size();
        for (std::size_t k = 0; match && k < lead.size(); ++k) {
            match = asciiFold(static_cast<unsigned char>(text[at + k])) ==
                    static_cast<unsigned char>(lead[k]);
        }
        if (match) {
            return at;
        }
    }
    return std::string_view::npos;
}

// Seeded random texts of every length around the vector steps, from every start, against a
// plain search. The alphabet holds the bytes one bit away from the lead's letters.
TEST(FoldedLeadFinder, AgreesWithAPlainSearch) {
    struct Case {
        std::string_view lead;
        int alternative;
    };
    const std::string alphabet = "echoECHOprisS+ -\xC5\xBF@`CcEe\x03";
    std::mt19937 random(11);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    for (const Case& c :
         {Case{"ech", -1}, Case{"pri", -1}, Case{"sh", 0xC5}, Case{"e", -1}, Case{"c+ -", -1}}) {
        SCOPED_TRACE(c.lead);
        const FoldedLeadFinder finder(c.lead, c.alternative);
        for (int round = 0; round < 3000; ++round) {
            std::string text;
            for (int i = round % 150; i > 0; --i) {
                text += alphabet[pick(random)];
            }
            for (std::size_t from = 0; from <= text.size(); from += 1 + from / 16) {
                ASSERT_EQ(finder.next(text, from), plainNext(text, from, c.lead, c.alternative))
                    << text << " from " << from;
            }
        }
    }
}

TEST(FoldedLeadFinder, LeadAtTheVeryEnd) {
    const FoldedLeadFinder finder("pri");
    for (std::size_t size = 3; size < 100; ++size) {
        std::string text(size - 3, '.');
        text += "PRI";
        EXPECT_EQ(finder.next(text, 0), size - 3);
        text.pop_back();
        EXPECT_EQ(finder.next(text, 0), std::string_view::npos);
    }
    EXPECT_THROW(FoldedLeadFinder(""), std::invalid_argument);
}

// The byte-set search with fewer bytes than its vector slots, and the byte count across the
// points where its per-lane counters are summed (every 255 steps of sixteen), against loops.
TEST(ByteSetFinderAndCountByte, AgreeWithPlainLoops) {
    const std::string alphabet = "ab\n{}\"/\xff";
    std::mt19937 random(5);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    const ByteSetFinder braces("{}");
    const ByteSetFinder special("\"{}/\xff");
    for (const std::size_t size : {0, 1, 15, 16, 17, 100, 4079, 4080, 4081, 8200, 70000}) {
        SCOPED_TRACE(size);
        std::string text;
        for (std::size_t i = 0; i < size; ++i) {
            text += alphabet[pick(random)];
        }
        EXPECT_EQ(countByte(text, '\n'),
                  static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
        EXPECT_EQ(countByte(std::string(size, '\n'), '\n'), size);  // every lane at its limit
        for (std::size_t from = 0; from <= text.size(); from += 1 + from / 8) {
            const auto plain = [&](std::string_view set) {
                const std::size_t at = text.find_first_of(set, from);
                return at == std::string::npos ? text.size() : at;
            };
            ASSERT_EQ(braces.next(text, from), plain("{}")) << "from " << from;
            ASSERT_EQ(special.next(text, from), plain("\"{}/\xff")) << "from " << from;
        }
    }
}

}  // namespace
}  // namespace quillon::platform
