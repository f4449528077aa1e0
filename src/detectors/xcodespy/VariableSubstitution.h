#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon::detectors::xcodespy {

// The substitution passes of the reconstruction: in each pass every (name, value) of the table,
// in table order, replaces all occurrences of "$name" in the text as the entries before it left
// it (literally, left to right, without rescanning what it inserted). Passes stop after one
// that changed nothing, or after pass 10.
//
// One more occurrence is never replaced when that would take the text past `limit` bytes: the
// pass stops there, with the occurrences before it replaced and the rest left, and no further
// pass runs.
//
// The text is kept as pieces indexed by the names that can match at each "$", so a pass costs
// time in proportion to the table and to what it inserts, not to the table times the text: a
// script with a hundred thousand variables takes no longer than its size suggests.
struct SubstitutionOutcome {
    std::string text;
    std::int64_t passes = 0;
    bool limited = false;  // the last pass stopped at the limit
};

using PassObserver =
    std::function<void(std::int64_t pass, const std::function<std::string()>& text)>;

SubstitutionOutcome substituteVariables(
    std::string_view script, const std::vector<std::pair<std::string, std::string>>& table,
    std::size_t limit, const PassObserver& afterPass = {});

}  // namespace quillon::detectors::xcodespy
