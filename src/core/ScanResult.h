#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileURL.h"

namespace quillon::core {

// One detector's outcome for one file. A score of 0 or less means nothing was found.
struct ScanResult {
    platform::FileURL file;
    std::int64_t riskScore = 0;
    std::vector<std::string> findings;

    friend bool operator==(const ScanResult&, const ScanResult&) = default;
};

}  // namespace quillon::core
