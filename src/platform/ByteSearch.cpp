#include "platform/ByteSearch.h"

#include <algorithm>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillon::platform {

FoldedLeadFinder::FoldedLeadFinder(std::string_view lead, int alternative)
    : length_(lead.size()), alternative_(alternative) {
    if (lead.empty() || lead.size() > 4) {
        throw std::invalid_argument("FoldedLeadFinder takes a lead of one to four bytes");
    }
    for (std::size_t k = 0; k < length_; ++k) {
        const auto c = static_cast<unsigned char>(lead[k]);
        bytes_[k] = asciiFold(c);
        caseBits_[k] = isAsciiLetter(c) ? 0x20 : 0;
    }
}

bool FoldedLeadFinder::matchesAt(std::string_view text, std::size_t at) const {
    if (alternative_ >= 0 && static_cast<unsigned char>(text[at]) == alternative_) {
        return true;
    }
    if (at + length_ > text.size()) {
        return false;
    }
    for (std::size_t k = 0; k < length_; ++k) {
        if ((static_cast<unsigned char>(text[at + k]) | caseBits_[k]) != bytes_[k]) {
            return false;
        }
    }
    return true;
}

std::size_t FoldedLeadFinder::next(std::string_view text, std::size_t from) const {
    std::size_t at = from;
#if defined(__SSE2__)
    const char* data = text.data();
    // Every load of a step stays inside the text.
    for (; at + 15 + length_ <= text.size(); at += 16) {
        __m128i hits = _mm_set1_epi8(-1);
        for (std::size_t k = 0; k < length_; ++k) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + k));
            const __m128i folded =
                _mm_or_si128(bytes, _mm_set1_epi8(static_cast<char>(caseBits_[k])));
            hits = _mm_and_si128(
                hits, _mm_cmpeq_epi8(folded, _mm_set1_epi8(static_cast<char>(bytes_[k]))));
        }
        int mask = _mm_movemask_epi8(hits);
        if (alternative_ >= 0) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
            mask |= _mm_movemask_epi8(
                _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(alternative_))));
        }
        if (mask != 0) {
            return at + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        }
    }
#endif
    for (; at < text.size(); ++at) {
        if (matchesAt(text, at)) {
            return at;
        }
    }
    return std::string_view::npos;
}

}  // namespace quillon::platform
