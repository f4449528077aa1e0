#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "detectors/xcodespy/VariableSubstitution.h"

namespace quillon::detectors::testing {

// The substitution passes done the plain way, one search of the whole text per entry: slow,
// obviously right, and the oracle for the indexed implementation.
inline xcodespy::SubstitutionOutcome referenceSubstitution(
    std::string_view script, const std::vector<std::pair<std::string, std::string>>& table,
    std::size_t limit, std::vector<std::string>* passes = nullptr) {
    xcodespy::SubstitutionOutcome outcome;
    std::string text(script);
    for (std::int64_t pass = 1; pass <= 10; ++pass) {
        outcome.passes = pass;
        bool changed = false;
        for (const auto& [name, value] : table) {
            const std::string token = "$" + name;
            if (text.find(token) == std::string::npos) {
                continue;
            }
            changed = true;
            std::string out;
            std::size_t copied = 0;
            for (std::size_t at = text.find(token); at != std::string::npos;
                 at = text.find(token, at + token.size())) {
                const std::size_t rest = text.size() - (at + token.size());
                if (out.size() + (at - copied) + value.size() + rest > limit) {
                    outcome.limited = true;
                    break;
                }
                out.append(text, copied, at - copied);
                out.append(value);
                copied = at + token.size();
            }
            out.append(text, copied, std::string::npos);
            text = std::move(out);
            if (outcome.limited) {
                break;
            }
        }
        if (passes) {
            passes->push_back(text);
        }
        if (outcome.limited || !changed) {
            break;
        }
    }
    outcome.text = text;
    return outcome;
}

}  // namespace quillon::detectors::testing
