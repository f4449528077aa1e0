#include "platform/ByteSearch.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quillon::platform
