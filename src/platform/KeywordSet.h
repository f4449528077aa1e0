#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::platform {

// Which of up to 64 keywords (of at most 255 characters together, so that the automaton's
// table stays small enough for the first-level cache) occur in a text, found in one pass.
// Keywords are ASCII; ASCII letters of the text are compared without case, every other byte
// exactly, so on a lowercased text it answers what `find` of each keyword would. Immutable
// after construction; thread-safe.
class KeywordSet {
  public:
    explicit KeywordSet(const std::vector<std::string_view>& keywords);

    // Bit i set when keyword i occurs. Stops early once every keyword was seen.
    std::uint64_t find(std::string_view text) const;
    std::size_t size() const { return count_; }

  private:
    std::vector<std::uint8_t> next_;    // state * 256 + byte -> state
    std::vector<std::uint64_t> found_;  // state -> keywords ending here
    std::size_t count_ = 0;
    std::size_t longest_ = 0;
    std::size_t firstAccepting_ = 0;  // states from here on find something
};

}  // namespace quillon::platform
