#pragma once

#include <chrono>
#include <optional>

#include "platform/FileURL.h"

namespace quillon::monitor {

// One monitored project folder and the outcome of its last scan cycle. Shared by the project
// list, the project's scan loop and the tasks the loop posts. The mutable fields are written
// and read on the main thread only; `url` never changes and is what the loop reads.
struct ProjectMonitor {
    explicit ProjectMonitor(platform::FileURL folder) : url(std::move(folder)) {}

    const platform::FileURL url;
    bool isInfected = false;
    bool isScanning = false;
    std::optional<std::chrono::system_clock::time_point> lastScanDate;
};

}  // namespace quillon::monitor
