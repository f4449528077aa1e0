#include "report/FolderReport.h"

#include "report/ClassicFindings.h"

namespace quillon::report {

void collectFindings(FolderReport& report, const Baseline* baseline, bool classic) {
    report.findings.clear();
    report.suppressions.clear();
    report.diagnostics.clear();
    for (const auto& pipeline : report.run.pipelines) {
        std::vector<core::Finding> findings = !pipeline.classic ? pipeline.findings
                                              : classic ? classicFindings(pipeline, report.folder)
                                                        : std::vector<core::Finding>();
        for (auto& finding : findings) {
            report.suppressions.push_back(baseline != nullptr && baseline->accepts(finding)
                                              ? baseline->entry(finding.fingerprint)
                                              : nullptr);
            report.findings.push_back(std::move(finding));
        }
        report.diagnostics.insert(report.diagnostics.end(), pipeline.diagnostics.begin(),
                                  pipeline.diagnostics.end());
    }
}

}  // namespace quillon::report
