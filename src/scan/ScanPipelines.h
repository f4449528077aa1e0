#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Finding.h"
#include "core/ScanResult.h"
#include "platform/FileURL.h"
#include "platform/LineWriter.h"

// The scan pipelines: each turns a project folder into a verdict by composing discovery, one
// detector and the engine. They keep no state, create everything per run, and may run on
// several threads at once for different folders. Logs go to "com.quillon" / "BackgroundScan";
// the listing and the detector's own report go to the given writer.
namespace quillon::scan {

struct PipelineRun {
    std::string name;  // the analysis's name: "xcsset", "xcodespy", "buildscripts"
    bool clean = true;
    // A classic scan's run: its results are text findings, and its typed findings are made from
    // them by the classic rule tables (report::classicFindings) when a printer needs them.
    bool classic = false;
    // Every result the engine returned, also those after the one that decided the verdict.
    std::vector<core::ScanResult> results;
    // The build-script analysis's typed findings (most severe first) and the files it could
    // not read. The classic pipelines leave both empty; callers that need their results as
    // typed findings may keep them here.
    std::vector<core::Finding> findings;
    std::vector<core::ScanDiagnostic> diagnostics;
};

// Threat exactly when a finding contains "chmod detected".
PipelineRun runXCSSETPipeline(const platform::FileURL& folder, platform::LineWriter& output);
// Threat when the joined findings hold a critical indicator or a score reaches 50.
PipelineRun runXcodeSecurityPipeline(const platform::FileURL& folder, platform::LineWriter& output);

// Threat when a finding is high or critical. Writes one block per finding; logs its start and,
// on a threat, the most severe finding.
PipelineRun runBuildScriptsPipeline(const platform::FileURL& folder, platform::LineWriter& output);

// The verdicts alone; true means clean.
bool scanXCSSETFinal(const platform::FileURL& folder,
                     platform::LineWriter& output = platform::standardOutput());
bool scanXcodeSecurityFinal(const platform::FileURL& folder,
                            platform::LineWriter& output = platform::standardOutput());
bool scanBuildScriptsFinal(const platform::FileURL& folder,
                           platform::LineWriter& output = platform::standardOutput());

// The single-project window's scan: the analyses the window runs, in the list's order, each in
// its window form (the XCSSET listing with a "---" line after each file line and after each
// result; then the build-script blocks), no log records, one walk. Clean when all were.
bool runSingleProjectScan(const platform::FileURL& folder, platform::LineWriter& output);

struct CycleRun {
    bool clean = true;
    std::vector<PipelineRun> pipelines;
};

// How a cycle's analyses find their files: from one walk with shared reads, or each walking
// and reading on its own (the way every analysis ran before they shared; kept to show that
// both give the same output).
enum class Walks { shared, separate };

// The classic cycle: the XCSSET pipeline and, only when it was clean, the XcodeSpy pipeline.
CycleRun runClassicCycle(const platform::FileURL& folder, platform::LineWriter& output,
                         Walks walks = Walks::shared);
// What one monitoring cycle runs: every analysis in the list's order, those marked so only
// after clean ones. Clean when every analysis that ran was clean.
CycleRun runScanCycle(const platform::FileURL& folder, platform::LineWriter& output,
                      Walks walks = Walks::shared);

// The fixed indicators searched in the lowercased, space-joined findings of a result.
extern const std::vector<std::string_view> kCriticalIndicators;

// The findings as a bracketed list of quoted strings, with quotes, backslashes and control
// characters escaped: ["a", "b \"c\""].
std::string describeFindings(const std::vector<std::string>& findings);

// Why one XcodeSpy result is a threat: the first critical indicator in its lowercased,
// space-joined findings, or else a score of 50 or more. Nothing when neither holds.
struct XcodeSpyThreat {
    enum class Kind { criticalIndicator, highRisk } kind;
    std::string_view indicator;  // for criticalIndicator
};
std::optional<XcodeSpyThreat> judgeXcodeSpyResult(const core::ScanResult& result);

// Index of the result that decides the XCSSET verdict, if any.
std::optional<std::size_t> firstChmodResult(const std::vector<core::ScanResult>& results);

}  // namespace quillon::scan
