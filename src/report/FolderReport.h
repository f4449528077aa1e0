#pragma once

#include <string>
#include <vector>

#include "core/Finding.h"
#include "report/Baseline.h"
#include "scan/ScanPipelines.h"

namespace quillon::report {

// Everything the printers show of one scanned folder: the pipelines' runs as they ran, and
// the typed findings of all of them (classic ones converted) with their suppressions.
struct FolderReport {
    std::string folder;  // absolute path
    scan::CycleRun run;
    std::vector<core::Finding> findings;
    std::vector<const BaselineEntry*> suppressions;  // parallel to findings; null when shown
    std::vector<core::ScanDiagnostic> diagnostics;
    bool clean = true;  // the verdict after suppressions
};

// Builds the typed findings of a run and applies `baseline` (may be null). With `classic`
// false only the build-script findings are built: the classic ones cost a read of each file
// and only SARIF, JSON suppressions and baselines need them.
void collectFindings(FolderReport& report, const Baseline* baseline, bool classic = true);

}  // namespace quillon::report
