#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "core/FileDiscovery.h"
#include "scan/ScanPipelines.h"

// The analyses a cycle runs, each declared once. The monitor's cycle, quillon-scan's
// --pipeline choices and JSON output, and the single-project window all take them from here,
// in this order.
namespace quillon::scan {

struct Analysis {
    std::string_view name;  // as --pipeline and the JSON output call it
    // The files it takes; a cycle walks once for all of them.
    const core::DiscoveryConfiguration& (*files)();
    // Which of those it reads; null: all but directories.
    core::SharedWalk::Reads reads;
    // Which of them it takes as a digest of another's read, and how it is made.
    core::SharedWalk::Digestion digestion;
    // The pipeline: listing, reports and log records.
    PipelineRun (*run)(const platform::FileURL& folder, platform::LineWriter& output);
    // The single-project window's form (no log records), or null when the window leaves it out.
    PipelineRun (*runInWindow)(const platform::FileURL& folder, platform::LineWriter& output);
    // Runs in a cycle only when every analysis before it was clean.
    bool onlyAfterClean = false;
    // Part of the classic cycle (--pipeline classic): the two scans the monitor always ran.
    bool classic = false;
};

// In cycle order: the XCSSET scan, the XcodeSpy scan (only after a clean XCSSET scan), the
// build-script analysis.
const std::vector<Analysis>& analyses();
// The analysis of that name, or null.
const Analysis* findAnalysis(std::string_view name);

// Which analyses a shared cycle serves: every one, the classic cycle's, or the single-project
// window's. An analysis left out is never prepared for (no text kept, no digest made for it).
enum class Taking { all, classic, window };

// The shared walk and reads of one cycle of the analyses `taking` names over `folder`, for the
// calling thread while it lives.
std::unique_ptr<core::SharedWalk> shareCycle(const platform::FileURL& folder,
                                             Taking taking = Taking::all);

}  // namespace quillon::scan
