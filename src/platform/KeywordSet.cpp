#include "platform/KeywordSet.h"

#include <algorithm>
#include <deque>
#include <stdexcept>

namespace quillon::platform {

namespace {

unsigned char fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

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
    // The trie, with -1 for missing edges.
    std::vector<std::vector<int>> edges(1, std::vector<int>(256, -1));
    found_.assign(1, 0);
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        int state = 0;
        for (char raw : keywords[k]) {
            const unsigned char c = fold(static_cast<unsigned char>(raw));
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

std::uint64_t KeywordSet::find(std::string_view text) const {
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
