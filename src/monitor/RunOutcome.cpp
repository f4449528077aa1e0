#include "monitor/RunOutcome.h"

#include "report/ClassicFindings.h"

namespace quillon::monitor {

PipelineOutcome outcomeOf(scan::PipelineRun run, const platform::FileURL& folder) {
    PipelineOutcome outcome(run.clean);
    for (const auto& result : run.results) {
        if (result.riskScore <= 0) {
            continue;
        }
        const std::string file = report::relativePath(result.file.path(), folder.path());
        for (const auto& line : result.findings) {
            outcome.textFindings.push_back(file + ": " + line);
        }
    }
    outcome.findings =
        run.classic ? report::classicFindings(run, folder.path()) : std::move(run.findings);
    outcome.diagnostics = std::move(run.diagnostics);
    return outcome;
}

}  // namespace quillon::monitor
