#pragma once

#include <chrono>
#include <string>

namespace quillon::platform {

// A localised phrase such as "2 minutes ago" for `date` seen from `now`, in the full units
// style of the user's default locale, with the largest unit that fits (seconds up to years).
// Thread-safe.
std::string relativePhrase(std::chrono::system_clock::time_point date,
                           std::chrono::system_clock::time_point now);

}  // namespace quillon::platform
