#include "platform/ByteSearch.h"

#include <algorithm>
#include <stdexcept>

#include "platform/Unicode.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUILLON_WIDE_VECTORS 1
#include <immintrin.h>
#endif

namespace quillon::platform {

bool hasWideVectors() {
#ifdef QUILLON_WIDE_VECTORS
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#else
    return false;
#endif
}

namespace {

#ifdef QUILLON_WIDE_VECTORS

// Thirty-two positions per step on processors with AVX2, for a lead of `Length` bytes (fixed,
// so the loop is unrolled and its constants stay in registers). Returns the first lead found,
// or sets `at` to where the steps ended and returns npos.
template <std::size_t Length>
__attribute__((target("avx2"))) std::size_t wideSteps(std::string_view text, std::size_t& at,
                                                      const unsigned char* leadBytes,
                                                      const unsigned char* caseBits,
                                                      int alternative) {
    const char* data = text.data();
    __m256i leads[Length];
    __m256i cases[Length];
    for (std::size_t k = 0; k < Length; ++k) {
        leads[k] = _mm256_set1_epi8(static_cast<char>(leadBytes[k]));
        cases[k] = _mm256_set1_epi8(static_cast<char>(caseBits[k]));
    }
    const __m256i other = _mm256_set1_epi8(static_cast<char>(alternative));
    for (; at + 31 + Length <= text.size(); at += 32) {
        __m256i hits = _mm256_set1_epi8(-1);
        for (std::size_t k = 0; k < Length; ++k) {
            const __m256i bytes =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at + k));
            hits = _mm256_and_si256(hits,
                                    _mm256_cmpeq_epi8(_mm256_or_si256(bytes, cases[k]), leads[k]));
        }
        auto mask = static_cast<unsigned>(_mm256_movemask_epi8(hits));
        if (alternative >= 0) {
            const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at));
            mask |= static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, other)));
        }
        if (mask != 0) {
            return at + static_cast<std::size_t>(__builtin_ctz(mask));
        }
    }
    return std::string_view::npos;
}

std::size_t wideSteps(std::string_view text, std::size_t& at, const unsigned char* leadBytes,
                      const unsigned char* caseBits, std::size_t length, int alternative) {
    switch (length) {
        case 1:
            return wideSteps<1>(text, at, leadBytes, caseBits, alternative);
        case 2:
            return wideSteps<2>(text, at, leadBytes, caseBits, alternative);
        case 3:
            return wideSteps<3>(text, at, leadBytes, caseBits, alternative);
        default:
            return wideSteps<4>(text, at, leadBytes, caseBits, alternative);
    }
}
#endif

}  // namespace

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
#ifdef QUILLON_WIDE_VECTORS
    if (hasWideVectors()) {
        const std::size_t found = wideSteps(text, at, bytes_, caseBits_, length_, alternative_);
        if (found != std::string_view::npos) {
            return found;
        }
    }
#endif
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

ByteSetFinder::ByteSetFinder(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > 8) {
        throw std::invalid_argument("ByteSetFinder takes one to eight bytes");
    }
    for (std::size_t k = 0; k < 8; ++k) {
        // Unused slots repeat the first byte, so every step makes the same eight comparisons.
        const char c = bytes[k < bytes.size() ? k : 0];
        member_[static_cast<unsigned char>(c)] = true;
        std::fill(std::begin(lanes_[k]), std::end(lanes_[k]), static_cast<unsigned char>(c));
    }
}

std::size_t ByteSetFinder::next(std::string_view text, std::size_t from) const {
    std::size_t at = from;
    const char* data = text.data();
#if defined(__SSE2__)
    for (; at + 16 <= text.size(); at += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        __m128i hits = _mm_setzero_si128();
        for (std::size_t k = 0; k < 8; ++k) {
            const __m128i lane = _mm_load_si128(reinterpret_cast<const __m128i*>(lanes_[k]));
            hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, lane));
        }
        const int mask = _mm_movemask_epi8(hits);
        if (mask != 0) {
            return at + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        }
    }
#endif
    while (at < text.size() && !member_[static_cast<unsigned char>(data[at])]) {
        ++at;
    }
    return at;
}

std::size_t countByte(std::string_view text, char byte) {
    std::size_t count = 0;
    std::size_t at = 0;
    const char* data = text.data();
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(byte);
    while (at + 16 <= text.size()) {
        // Per-lane byte counters, summed before any can pass 255.
        __m128i lanes = _mm_setzero_si128();
        const std::size_t steps = std::min<std::size_t>((text.size() - at) / 16, 255);
        for (std::size_t step = 0; step < steps; ++step, at += 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(block, wanted));
        }
        const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
        count += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                 static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
    }
#endif
    for (; at < text.size(); ++at) {
        count += data[at] == byte ? 1 : 0;
    }
    return count;
}

}  // namespace quillon::platform
