#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::platform {

// A compiled ICU regular expression over UTF-8 text. ICU's meaning of every construct is the
// reference (\s, \b, `.` without line terminators, case-insensitive matching by case folding).
// Positions are byte offsets into the searched text. Immutable after compilation and safe to
// use from several threads at once; each search makes its own matcher.
//
// Searches have no backtracking-stack limit, so a match is never lost to a long input; a
// runtime failure of the engine ends the search with what was found so far and is logged at
// error level (subsystem "com.quillon", category "Regex").
class Regex {
  public:
    enum Flags : unsigned { none = 0, caseInsensitive = 1u << 0 };

    struct Group {
        std::size_t begin = 0;
        std::size_t end = 0;
        bool matched = false;
    };
    struct Match {
        std::size_t begin = 0;
        std::size_t end = 0;
        std::vector<Group> groups;  // capture groups 1..n at indices 0..n-1

        std::string_view text(std::string_view subject) const {
            return subject.substr(begin, end - begin);
        }
        // Capture group `number` (counted from 1), or nothing when it did not take part.
        std::optional<std::string_view> group(std::string_view subject, std::size_t number) const;
    };

    // Compiles `pattern`; on failure returns nothing and, when asked, the ICU error name.
    static std::optional<Regex> compile(std::string_view pattern, unsigned flags = none,
                                        std::string* error = nullptr);

    const std::string& pattern() const { return pattern_; }
    std::size_t groupCount() const { return groupCount_; }

    // Visits matches leftmost first, without overlap, until `visit` returns false.
    void forEachMatch(std::string_view text, const std::function<bool(const Match&)>& visit) const;
    std::vector<Match> findAll(std::string_view text) const;
    std::size_t countMatches(std::string_view text) const;
    // Every match replaced by `replacement`, taken literally.
    std::string replaceAll(std::string_view text, std::string_view replacement) const;

  private:
    struct Compiled;
    Regex() = default;
    std::shared_ptr<const Compiled> compiled_;
    std::string pattern_;
    std::size_t groupCount_ = 0;
};

}  // namespace quillon::platform
