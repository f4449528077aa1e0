#pragma once

#include <functional>
#include <string_view>

#include "platform/Regex.h"

namespace quillon::detectors::xcodespy {

// The matches of `shellScript\s*=\s*"([\s\S]*?)";` (case-insensitive) exactly as ICU finds
// them on valid UTF-8 text, in linear time: ICU's own search rescans the rest of the text for
// every opening without a closing `";`. Thread-safe.
void findShellScriptBlocks(std::string_view text,
                           const std::function<bool(const platform::Regex::Match&)>& visit);

}  // namespace quillon::detectors::xcodespy
