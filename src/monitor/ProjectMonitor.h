#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/Finding.h"
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
    // What the last completed cycle found: the classic results' lines, the typed findings
    // (most severe first, accepted ones included) and the files it could not read.
    std::vector<std::string> classicFindings;
    std::vector<core::Finding> findings;
    std::vector<core::ScanDiagnostic> diagnostics;
};

// The monitor's threat findings not in `accepted`, most severe first.
std::vector<const core::Finding*> openThreats(const ProjectMonitor& monitor,
                                              const std::set<std::string>& accepted);
// Why a card is red, in one line: "TITLE, in FILE, phase 'NAME'".
std::string reasonLine(const core::Finding& finding);

}  // namespace quillon::monitor
