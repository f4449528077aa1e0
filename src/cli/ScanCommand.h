#pragma once

#include <string>
#include <vector>

#include "report/Baseline.h"
#include "report/FolderReport.h"
#include "scan/Analyses.h"
#include "scan/ScanPipelines.h"

namespace quillon::cli {

// cycle: what the monitor runs (every analysis, in the list's order); classic: the XCSSET scan,
// then the XcodeSpy scan when clean; or one analysis alone.
struct PipelineChoice {
    enum class Kind { cycle, classic, one } kind = Kind::cycle;
    const scan::Analysis* analysis = nullptr;  // for `one`

    static const PipelineChoice cycle;
    static const PipelineChoice classic;
    friend bool operator==(const PipelineChoice&, const PipelineChoice&) = default;
};

// Runs the chosen pipelines over a folder; the listing goes to `output` (standard output in
// text mode, nowhere otherwise). With a baseline, accepted findings do not count: the XcodeSpy
// scan then follows an XCSSET scan whose only threats were accepted, and each pipeline's
// `clean` is its verdict after acceptance.
scan::CycleRun runPipelines(PipelineChoice choice, const platform::FileURL& folder,
                            platform::LineWriter& output,
                            const report::Baseline* baseline = nullptr);

// {"folder": ..., "clean": ..., "pipelines": [{"name", "clean", "results": [...]}]}; the
// build-script entry adds "findings" and "diagnostics". Several folders: {"clean", "folders":
// [one such document each]}.
std::string renderJson(const std::vector<report::FolderReport>& folders);

// The whole command line; returns the exit status (0 clean, 1 threat, 2 usage, bad folder, or
// a scan error under --fail-on-scan-errors).
int runScanCommand(int argc, char** argv);

}  // namespace quillon::cli
