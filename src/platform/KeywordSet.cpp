#include "platform/KeywordSet.h"

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
    for (auto keyword : keywords) characters += keyword.size();
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
}

std::uint64_t KeywordSet::find(std::string_view text) const {
    const std::uint64_t all = count_ == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count_) - 1;
    std::uint64_t seen = 0;
    std::size_t state = 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size(); ++i) {
        state = next_[state * 256 + bytes[i]];
        const std::uint64_t here = found_[state];
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
