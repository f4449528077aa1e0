#pragma once

#include "monitor/LoopServices.h"
#include "scan/ScanPipelines.h"

namespace quillon::monitor {

// A pipeline's run as the record keeps it: the verdict, "file: line" for every line of each
// classic result that found something, the typed findings (classic ones converted, so that
// they can be accepted) and the files it could not read.
PipelineOutcome outcomeOf(scan::PipelineRun run, const platform::FileURL& folder);

}  // namespace quillon::monitor
