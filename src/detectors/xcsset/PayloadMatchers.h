#pragma once

#include <functional>
#include <string_view>

#include "platform/Regex.h"

// Linear-time matchers for the XCSSET detector's candidate patterns. Each returns exactly what
// ICU returns for its pattern (the same matches, groups and order) on valid UTF-8 text; ICU's
// own search backtracks and can take quadratic time on crafted text. Thread-safe.
namespace quillon::detectors::xcsset {

using MatchVisitor = std::function<bool(const platform::Regex::Match&)>;

// `[A-Za-z0-9+/=]{40,}`
void findStandaloneRuns(std::string_view text, const MatchVisitor& visit);
// `echo\s+["']([A-Za-z0-9+/=\n\r ]{20,})["']`, case-insensitive
void findEchoArguments(std::string_view text, const MatchVisitor& visit);
// `printf\s+.*["']([A-Za-z0-9+/=\n\r ]{20,})["']`, case-insensitive
void findPrintfArguments(std::string_view text, const MatchVisitor& visit);

}  // namespace quillon::detectors::xcsset
