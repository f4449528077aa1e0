#pragma once

#include <string>
#include <vector>

#include "core/pipelines/ScanPipelines.h"

namespace quillon::cli {

// cycle: what the monitor runs (classic, then buildscripts); classic: the XCSSET scan, then the
// XcodeSpy scan when clean; the others alone.
enum class PipelineChoice { cycle, classic, xcsset, xcodespy, buildscripts };

// Runs the chosen pipelines over a folder; the listing goes to `output` (standard output in
// text mode, nowhere in JSON mode).
core::pipelines::CycleRun runPipelines(PipelineChoice choice, const platform::FileURL& folder,
                                       platform::LineWriter& output);

// {"folder": ..., "clean": ..., "pipelines": [{"name", "clean", "results": [...]}]}; the
// build-script entry adds "findings" and "diagnostics".
std::string renderJson(const platform::FileURL& folder, const core::pipelines::CycleRun& run);

// The whole command line; returns the exit status (0 clean, 1 threat, 2 usage or bad folder).
int runScanCommand(int argc, char** argv);

}  // namespace quillon::cli
