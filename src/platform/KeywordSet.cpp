#include "platform/KeywordSet.h"

#include <algorithm>
#include <deque>
#include <stdexcept>

#include "platform/ByteSearch.h"
#include "platform/Unicode.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUILLON_KEYWORD_VECTORS 1
#include <immintrin.h>
#endif

namespace quillon::platform {

namespace {

using Bits = std::uint64_t;

bool occursAt(std::string_view text, std::size_t at, std::string_view folded) {
    if (at + folded.size() > text.size()) {
        return false;
    }
    for (std::size_t k = 0; k < folded.size(); ++k) {
        if (asciiFold(static_cast<unsigned char>(text[at + k])) !=
            static_cast<unsigned char>(folded[k])) {
            return false;
        }
    }
    return true;
}

#ifdef QUILLON_KEYWORD_VECTORS
// The prefilter: the keywords still missing go into eight buckets, and for each of the first
// three bytes of a keyword, two 16-entry tables (one per half of the byte) say which buckets
// may have that byte there. Two shuffles per position of the keyword test 32 positions of the text
// for all keywords at once; a position that passes is checked keyword by keyword. Keywords that
// share their first three bytes share a bucket, so the launch keywords cost one bucket.
struct Buckets {
    alignas(16) std::uint8_t low[3][16] = {};
    alignas(16) std::uint8_t high[3][16] = {};
    Bits keywords[8] = {};
};

Buckets fillBuckets(const std::vector<std::string>& folded, Bits missing) {
    Buckets buckets;
    std::vector<std::string_view> prefixes;
    for (std::size_t k = 0; k < folded.size(); ++k) {
        if (!(missing >> k & 1)) {
            continue;
        }
        const std::string_view prefix = std::string_view(folded[k]).substr(0, 3);
        const auto known = std::find(prefixes.begin(), prefixes.end(), prefix);
        const std::size_t index = static_cast<std::size_t>(known - prefixes.begin());
        if (known == prefixes.end()) {
            prefixes.push_back(prefix);
        }
        const std::size_t bucket = index % 8;
        const auto bit = static_cast<std::uint8_t>(1u << bucket);
        buckets.keywords[bucket] |= Bits{1} << k;
        for (std::size_t j = 0; j < 3; ++j) {
            if (j >= prefix.size()) {
                for (std::size_t v = 0; v < 16; ++v) {  // shorter keyword: any byte here
                    buckets.low[j][v] |= bit;
                    buckets.high[j][v] |= bit;
                }
                continue;
            }
            const auto c = static_cast<unsigned char>(prefix[j]);
            for (const unsigned char v :
                 {c, (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c}) {
                buckets.low[j][v & 0x0F] |= bit;
                buckets.high[j][v >> 4] |= bit;
            }
        }
    }
    return buckets;
}

__attribute__((target("avx2"))) Bits findByVectors(std::string_view text,
                                                   const std::vector<std::string>& folded,
                                                   Bits seen, Bits all) {
    const char* data = text.data();
    const std::size_t n = text.size();
    std::size_t at = 0;
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i zero = _mm256_setzero_si256();
    while (seen != all && at + 34 <= n) {
        const Buckets buckets = fillBuckets(folded, all & ~seen);
        __m256i low[3];
        __m256i high[3];
        for (std::size_t j = 0; j < 3; ++j) {  // shuffles look up within each 16-byte half
            low[j] = _mm256_broadcastsi128_si256(
                _mm_load_si128(reinterpret_cast<const __m128i*>(buckets.low[j])));
            high[j] = _mm256_broadcastsi128_si256(
                _mm_load_si128(reinterpret_cast<const __m128i*>(buckets.high[j])));
        }
        bool changed = false;
        // Three loads of 32 bytes at at, at + 1 and at + 2 stay inside the text.
        for (; !changed && at + 34 <= n; at += 32) {
            __m256i hits = _mm256_set1_epi8(-1);
            for (std::size_t j = 0; j < 3; ++j) {
                const __m256i bytes =
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at + j));
                const __m256i lows = _mm256_shuffle_epi8(low[j], _mm256_and_si256(bytes, nibble));
                const __m256i highs = _mm256_shuffle_epi8(
                    high[j], _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble));
                hits = _mm256_and_si256(hits, _mm256_and_si256(lows, highs));
            }
            auto mask = ~static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(hits, zero)));
            if (mask == 0) {
                continue;
            }
            alignas(32) std::uint8_t bucketsAt[32];
            _mm256_store_si256(reinterpret_cast<__m256i*>(bucketsAt), hits);
            for (; mask != 0; mask &= mask - 1) {
                const auto offset = static_cast<std::size_t>(__builtin_ctz(mask));
                for (unsigned b = bucketsAt[offset]; b != 0; b &= b - 1) {
                    Bits candidates = buckets.keywords[__builtin_ctz(b)] & ~seen;
                    for (; candidates != 0; candidates &= candidates - 1) {
                        const auto k = static_cast<std::size_t>(__builtin_ctzll(candidates));
                        if (occursAt(text, at + offset, folded[k])) {
                            seen |= Bits{1} << k;
                            changed = true;  // fewer buckets from the next block on
                        }
                    }
                }
            }
        }
    }
    for (; seen != all && at < n; ++at) {
        for (std::size_t k = 0; k < folded.size(); ++k) {
            if (!(seen >> k & 1) && occursAt(text, at, folded[k])) {
                seen |= Bits{1} << k;
            }
        }
    }
    return seen;
}

#endif

}  // namespace

KeywordSet::KeywordSet(const std::vector<std::string_view>& keywords) : count_(keywords.size()) {
    std::size_t characters = 0;
    for (auto keyword : keywords) {
        characters += keyword.size();
        longest_ = std::max(longest_, keyword.size());
    }
    if (keywords.size() > 64 || characters > 255) {
        throw std::invalid_argument("KeywordSet holds at most 64 keywords of 255 characters");
    }
    for (auto keyword : keywords) {
        std::string folded;
        for (char c : keyword) {
            folded.push_back(static_cast<char>(asciiFold(static_cast<unsigned char>(c))));
        }
        folded_.push_back(std::move(folded));
    }
    // The trie, with -1 for missing edges.
    std::vector<std::vector<int>> edges(1, std::vector<int>(256, -1));
    found_.assign(1, 0);
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        int state = 0;
        for (char raw : keywords[k]) {
            const unsigned char c = asciiFold(static_cast<unsigned char>(raw));
            if (edges[static_cast<std::size_t>(state)][c] < 0) {
                edges[static_cast<std::size_t>(state)][c] = static_cast<int>(edges.size());
                edges.emplace_back(256, -1);
                found_.push_back(0);
            }
            state = edges[static_cast<std::size_t>(state)][c];
        }
        found_[static_cast<std::size_t>(state)] |= std::uint64_t{1} << k;
    }
    // Breadth first: failure links complete the transitions and merge what is found.
    const std::size_t states = edges.size();
    next_.assign(states * 256, 0);
    std::vector<int> failure(states, 0);
    std::deque<int> queue;
    for (int c = 0; c < 256; ++c) {
        const int child = edges[0][static_cast<std::size_t>(c)];
        next_[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(child < 0 ? 0 : child);
        if (child > 0) {
            queue.push_back(child);
        }
    }
    while (!queue.empty()) {
        const int state = queue.front();
        queue.pop_front();
        const auto s = static_cast<std::size_t>(state);
        found_[s] |= found_[static_cast<std::size_t>(failure[s])];
        for (int c = 0; c < 256; ++c) {
            const int child = edges[s][static_cast<std::size_t>(c)];
            const std::uint8_t fallback =
                next_[static_cast<std::size_t>(failure[s]) * 256 + static_cast<std::size_t>(c)];
            if (child < 0) {
                next_[s * 256 + static_cast<std::size_t>(c)] = fallback;
            } else {
                next_[s * 256 + static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(child);
                failure[static_cast<std::size_t>(child)] = fallback;
                queue.push_back(child);
            }
        }
    }
    // Upper-case letters move like lower-case ones.
    for (std::size_t s = 0; s < states; ++s) {
        for (int c = 'A'; c <= 'Z'; ++c) {
            next_[s * 256 + static_cast<std::size_t>(c)] =
                next_[s * 256 + static_cast<std::size_t>(c + ('a' - 'A'))];
        }
    }
    // Renumber so that the states where something is found come last: the search then compares
    // a state number with a bound instead of loading what every state finds. The start state
    // stays 0; when it finds something (an empty keyword), so does every state.
    std::vector<std::size_t> order{0};  // new number -> old number
    for (std::size_t s = 1; s < states; ++s) {
        if (found_[s] == 0) {
            order.push_back(s);
        }
    }
    firstAccepting_ = found_[0] == 0 ? order.size() : 0;
    for (std::size_t s = 1; s < states; ++s) {
        if (found_[s] != 0) {
            order.push_back(s);
        }
    }
    std::vector<std::uint8_t> renumbered(states);
    for (std::size_t s = 0; s < states; ++s) {
        renumbered[order[s]] = static_cast<std::uint8_t>(s);
    }
    std::vector<std::uint8_t> next(states * 256);
    std::vector<std::uint64_t> found(states);
    for (std::size_t s = 0; s < states; ++s) {
        for (std::size_t c = 0; c < 256; ++c) {
            next[s * 256 + c] = renumbered[next_[order[s] * 256 + c]];
        }
        found[s] = found_[order[s]];
    }
    next_ = std::move(next);
    found_ = std::move(found);
}

bool KeywordSet::supports(Engine engine) {
    switch (engine) {
        case Engine::automaton:
            return true;
#ifdef QUILLON_KEYWORD_VECTORS
        case Engine::shuffles:
            return hasWideVectors();
#else
        default:
            return false;
#endif
    }
    return false;
}

std::uint64_t KeywordSet::find(std::string_view text) const {
    // Below a few vector steps the automaton is as quick and needs no set-up.
    if (text.size() < 64) {
        return findByAutomaton(text);
    }
    static const Engine best = supports(Engine::shuffles) ? Engine::shuffles : Engine::automaton;
    return findWith(best, text);
}

std::uint64_t KeywordSet::findWith(Engine engine, std::string_view text) const {
#ifdef QUILLON_KEYWORD_VECTORS
    const Bits all = count_ == 64 ? ~Bits{0} : (Bits{1} << count_) - 1;
    if (engine == Engine::shuffles && hasWideVectors()) {
        return findByVectors(text, folded_, found_[0], all);
    }
#endif
    (void)engine;
    return findByAutomaton(text);
}

std::uint64_t KeywordSet::findByAutomaton(std::string_view text) const {
    const std::uint64_t all = count_ == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count_) - 1;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::uint8_t* next = next_.data();
    const std::uint64_t* found = found_.data();
    const std::size_t accepting = firstAccepting_;
    std::uint64_t seen = found[0];  // empty keywords, found before the first byte

    // Eight automata on eight stretches of the text at once: each step of one waits for its own
    // previous step only, so the processor overlaps them. Every stretch but the first starts
    // one keyword length early, so a keyword across a boundary is still seen whole.
    constexpr std::size_t kLanes = 8;
    const std::size_t overlap = longest_ > 0 ? longest_ - 1 : 0;
    std::size_t position[kLanes];
    std::size_t end[kLanes];
    std::size_t state[kLanes] = {};
    const std::size_t stretch = text.size() / kLanes;
    if (stretch > 4 * overlap + 64) {
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            const std::size_t begin = lane * stretch;
            position[lane] = lane == 0 ? 0 : begin - overlap;
            end[lane] = lane + 1 == kLanes ? text.size() : begin + stretch;
        }
        std::size_t steps = end[0] - position[0];
        for (std::size_t lane = 1; lane < kLanes; ++lane) {
            steps = std::min(steps, end[lane] - position[lane]);
        }
        for (std::size_t step = 0; step < steps; ++step) {
            for (std::size_t lane = 0; lane < kLanes; ++lane) {
                state[lane] = next[state[lane] * 256 + bytes[position[lane] + step]];
                if (state[lane] >= accepting) {
                    seen |= found[state[lane]];
                }
            }
            if ((step & 255) == 0 && seen == all) {
                return seen;
            }
        }
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            for (std::size_t i = position[lane] + steps; i < end[lane]; ++i) {
                state[lane] = next[state[lane] * 256 + bytes[i]];
                if (state[lane] >= accepting) {
                    seen |= found[state[lane]];
                }
            }
        }
        return seen;
    }
    std::size_t single = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        single = next[single * 256 + bytes[i]];
        const std::uint64_t here = found[single];
        if (here != 0) {
            seen |= here;
            if (seen == all) {
                break;
            }
        }
    }
    return seen;
}

}  // namespace quillon::platform
