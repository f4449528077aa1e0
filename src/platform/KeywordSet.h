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

    // How a search runs. On x86-64 processors with AVX2 a vector prefilter (byte shuffles, 32
    // positions per step) finds where keywords may start and only those places are checked;
    // elsewhere one automaton reads every byte. Both give the same answer.
    enum class Engine { automaton, shuffles };
    static bool supports(Engine engine);

    // Bit i set when keyword i occurs, by the fastest engine this processor supports. Stops
    // early once every keyword was seen.
    std::uint64_t find(std::string_view text) const;
    // The same by a given engine, which must be supported; for tests and benchmarks.
    std::uint64_t findWith(Engine engine, std::string_view text) const;
    std::size_t size() const { return count_; }

  private:
    std::uint64_t findByAutomaton(std::string_view text) const;

    std::vector<std::string> folded_;   // the keywords with letters in lower case
    std::vector<std::uint8_t> next_;    // state * 256 + byte -> state
    std::vector<std::uint64_t> found_;  // state -> keywords ending here
    std::size_t count_ = 0;
    std::size_t longest_ = 0;
    std::size_t firstAccepting_ = 0;  // states from here on find something
};

}  // namespace quillon::platform
