#include "scan/ScanPipelines.h"

#include "scan/Analyses.h"

#include <memory>

#include "core/FileDiscovery.h"
#include "core/ScanEngine.h"
#include "detectors/buildscripts/BuildScriptScanner.h"
#include "detectors/xcodespy/XcodeSpyScanner.h"
#include "detectors/xcsset/XCSSETScanner.h"
#include "platform/Log.h"
#include "platform/Unicode.h"
#include "scan/FindingText.h"

namespace quillon::scan {

using core::buildScriptsDiscoveryConfiguration;
using core::defang;
using core::FileDiscovery;
using core::FileScanner;
using core::Finding;
using core::FindingLocation;
using core::ScanEngine;
using core::ScanResult;
using core::Severity;
using core::severityName;
using core::xcodeSpyDiscoveryConfiguration;
using core::xcssetDiscoveryConfiguration;

using platform::FileURL;
using platform::LineWriter;

const std::vector<std::string_view> kCriticalIndicators = {
    "/dev/tcp/",
    "0>&1",
    "mkfifo",
    "nc ",
    "bash &>",
    "mdbcmd",
    detectors::xcodespy::XcodeSpyScanner::kCommandAndControlDomain,
    "/private/tmp/.tag",
    "/tmp/.tag",
    "launchagents",
    "osascript",
    "curl",
    "wget",
    "de-obfuscated suspicious pattern",
    "likely malicious obfuscated shell payload",
};

namespace {

constexpr std::string_view kWarning = "\u26A0\uFE0F ";

platform::Logger makeLogger() {
    return platform::Logger("com.quillon", "BackgroundScan");
}

void appendEscaped(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        switch (byte) {
            case '"':
                out.append("\\\"");
                continue;
            case '\\':
                out.append("\\\\");
                continue;
            case '\n':
                out.append("\\n");
                continue;
            case '\r':
                out.append("\\r");
                continue;
            case '\t':
                out.append("\\t");
                continue;
            case 0:
                out.append("\\0");
                continue;
            default:
                break;
        }
        unsigned code = byte;
        std::size_t length = 1;
        // C1 controls arrive as the two bytes C2 80..C2 9F.
        if (byte == 0xC2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9F) {
                code = next;
                length = 2;
            }
        }
        if (code < 0x20 || code == 0x7F || (length == 2)) {
            out.append("\\u{");
            if (code >= 0x10)
                out.push_back(kHex[code >> 4]);
            out.push_back(kHex[code & 0xF]);
            out.push_back('}');
            i += length - 1;
            continue;
        }
        out.push_back(static_cast<char>(byte));
    }
}

void writeResultHeader(LineWriter& output, const ScanResult& result) {
    output.writeLine(std::string(kWarning) + result.file.lastPathComponent());
    output.writeLine("Score: " + std::to_string(result.riskScore));
    output.writeLine("Findings: " + describeFindings(result.findings));
}

std::vector<ScanResult> runEngine(std::shared_ptr<const FileScanner> scanner,
                                  const std::vector<FileURL>& files) {
    const ScanEngine engine({std::move(scanner)});
    return engine.scanFiles(files);
}

// The XCSSET scan and listing; `separated` adds the single-project window's "---" lines.
PipelineRun runXCSSETScan(const FileURL& folder, LineWriter& output, bool separated) {
    const std::vector<FileURL> files =
        FileDiscovery().discoverFiles(folder, xcssetDiscoveryConfiguration());
    for (const auto& file : files) {
        output.writeLine(std::string(kWarning) + file.absoluteString());
        if (separated) {
            output.writeLine("---");
        }
    }
    PipelineRun run{
        "xcsset", true,
        true,     runEngine(std::make_shared<detectors::xcsset::XCSSETScanner>(output), files),
        {},       {}};
    const std::optional<std::size_t> decisive = firstChmodResult(run.results);
    const std::size_t listed = decisive ? *decisive + 1 : run.results.size();
    for (std::size_t i = 0; i < listed; ++i) {
        writeResultHeader(output, run.results[i]);
        if (separated) {
            output.writeLine("---");
        }
    }
    run.clean = !decisive.has_value();
    return run;
}

}  // namespace

std::string describeFindings(const std::vector<std::string>& findings) {
    std::string out = "[";
    for (std::size_t i = 0; i < findings.size(); ++i) {
        if (i > 0) {
            out.append(", ");
        }
        out.push_back('"');
        appendEscaped(out, findings[i]);
        out.push_back('"');
    }
    out.push_back(']');
    return out;
}

std::optional<std::size_t> firstChmodResult(const std::vector<ScanResult>& results) {
    for (std::size_t i = 0; i < results.size(); ++i) {
        for (const auto& finding : results[i].findings) {
            if (finding.find("chmod detected") != std::string::npos) {
                return i;
            }
        }
    }
    return std::nullopt;
}

std::optional<XcodeSpyThreat> judgeXcodeSpyResult(const ScanResult& result) {
    std::string joined;
    for (std::size_t i = 0; i < result.findings.size(); ++i) {
        if (i > 0) {
            joined.push_back(' ');
        }
        joined.append(result.findings[i]);
    }
    const std::string lowered = platform::lowercase(joined);
    for (std::string_view indicator : kCriticalIndicators) {
        if (lowered.find(indicator) != std::string::npos) {
            return XcodeSpyThreat{XcodeSpyThreat::Kind::criticalIndicator, indicator};
        }
    }
    if (result.riskScore >= 50) {
        return XcodeSpyThreat{XcodeSpyThreat::Kind::highRisk, {}};
    }
    return std::nullopt;
}

PipelineRun runXCSSETPipeline(const FileURL& folder, LineWriter& output) {
    makeLogger().info("Starting scanXCSSETFinal %s", folder.absoluteString());
    return runXCSSETScan(folder, output, false);
}

PipelineRun runXcodeSecurityPipeline(const FileURL& folder, LineWriter& output) {
    const platform::Logger logger = makeLogger();
    logger.info("Starting scanXcodeSecurityFinal %s", folder.path());
    const std::vector<FileURL> files =
        FileDiscovery().discoverFiles(folder, xcodeSpyDiscoveryConfiguration());
    for (const auto& file : files) {
        output.writeLine("\U0001F50D Scanning: " + file.path());
    }
    PipelineRun run{
        "xcodespy", true,
        true,       runEngine(std::make_shared<detectors::xcodespy::XcodeSpyScanner>(), files),
        {},         {}};
    for (const auto& result : run.results) {
        output.writeLine(std::string(kWarning) + "File: " + result.file.lastPathComponent());
        output.writeLine(std::string(kWarning) + "Risk Score: " + std::to_string(result.riskScore));
        output.writeLine(std::string(kWarning) + "Findings:");
        for (const auto& finding : result.findings) {
            output.writeLine("   - " + finding);
        }
        if (const auto threat = judgeXcodeSpyResult(result)) {
            if (threat->kind == XcodeSpyThreat::Kind::criticalIndicator) {
                logger.error("Critical Xcode malware indicator found: %s", threat->indicator);
            } else {
                logger.error("High risk file detected: %s", result.file.path());
            }
            run.clean = false;
            return run;
        }
    }
    logger.info("scanXcodeSecurityFinal completed successfully");
    return run;
}

namespace {

PipelineRun runBuildScripts(const FileURL& folder, LineWriter& output) {
    const std::vector<FileURL> files =
        FileDiscovery().discoverFiles(folder, buildScriptsDiscoveryConfiguration());
    auto report = detectors::buildscripts::BuildScriptScanner().scan(folder, files);
    PipelineRun run{
        "buildscripts", true, false, {}, std::move(report.findings), std::move(report.diagnostics)};
    for (const auto& finding : run.findings) {
        if (core::isThreat(finding)) {
            run.clean = false;
        }
        for (const auto& line : describeFinding(finding)) {
            output.writeLine(line);
        }
    }
    return run;
}

}  // namespace

PipelineRun runBuildScriptsPipeline(const FileURL& folder, LineWriter& output) {
    const platform::Logger logger = makeLogger();
    logger.info("Starting scanBuildScripts %s", folder.path());
    PipelineRun run = runBuildScripts(folder, output);
    if (!run.clean) {
        const Finding& top = run.findings.front();
        logger.error("Build script threat found: %s (%s)", top.title, top.location.file);
    } else {
        logger.info("scanBuildScripts completed: %ld findings",
                    static_cast<std::int64_t>(run.findings.size()));
    }
    return run;
}

bool scanBuildScriptsFinal(const FileURL& folder, LineWriter& output) {
    return runBuildScriptsPipeline(folder, output).clean;
}

bool scanXCSSETFinal(const FileURL& folder, LineWriter& output) {
    return runXCSSETPipeline(folder, output).clean;
}

bool scanXcodeSecurityFinal(const FileURL& folder, LineWriter& output) {
    return runXcodeSecurityPipeline(folder, output).clean;
}

namespace {

CycleRun runCycle(const FileURL& folder, LineWriter& output, Walks walks, bool classicOnly) {
    std::unique_ptr<core::SharedWalk> shared;
    if (walks == Walks::shared) {
        shared = shareCycle(folder, classicOnly ? Taking::classic : Taking::all);
    }
    CycleRun cycle;
    for (const Analysis& analysis : analyses()) {
        if ((classicOnly && !analysis.classic) || (analysis.onlyAfterClean && !cycle.clean)) {
            continue;
        }
        cycle.pipelines.push_back(analysis.run(folder, output));
        cycle.clean = cycle.clean && cycle.pipelines.back().clean;
    }
    return cycle;
}

}  // namespace

bool runSingleProjectScan(const FileURL& folder, LineWriter& output) {
    const auto shared = shareCycle(folder, Taking::window);
    bool clean = true;
    for (const Analysis& analysis : analyses()) {
        if (analysis.runInWindow != nullptr) {
            const bool verdict = analysis.runInWindow(folder, output).clean;
            clean = clean && verdict;
        }
    }
    return clean;
}

CycleRun runClassicCycle(const FileURL& folder, LineWriter& output, Walks walks) {
    return runCycle(folder, output, walks, true);
}

CycleRun runScanCycle(const FileURL& folder, LineWriter& output, Walks walks) {
    return runCycle(folder, output, walks, false);
}

const std::vector<Analysis>& analyses() {
    static const std::vector<Analysis> list = {
        {"xcsset",
         core::xcssetDiscoveryConfiguration,
         detectors::xcsset::XCSSETScanner::reads,
         {},
         runXCSSETPipeline,
         [](const FileURL& folder, LineWriter& output) {
             return runXCSSETScan(folder, output, true);
         },
         false,
         true},
        {"xcodespy",
         core::xcodeSpyDiscoveryConfiguration,
         detectors::xcodespy::XcodeSpyScanner::reads,
         {detectors::xcodespy::XcodeSpyScanner::reads,
          detectors::xcodespy::XcodeSpyScanner::digest},
         runXcodeSecurityPipeline,
         nullptr,
         true,
         true},
        {"buildscripts",
         core::buildScriptsDiscoveryConfiguration,
         nullptr,
         {detectors::buildscripts::BuildScriptScanner::takesDigest,
          detectors::buildscripts::BuildScriptScanner::digest},
         runBuildScriptsPipeline,
         runBuildScripts,
         false,
         false},
    };
    return list;
}

const Analysis* findAnalysis(std::string_view name) {
    for (const Analysis& analysis : analyses()) {
        if (analysis.name == name) {
            return &analysis;
        }
    }
    return nullptr;
}

std::unique_ptr<core::SharedWalk> shareCycle(const FileURL& folder, Taking taking) {
    std::vector<const core::DiscoveryConfiguration*> configurations;
    std::vector<core::SharedWalk::Reads> reads;
    std::vector<core::SharedWalk::Digestion> digestions;
    for (const Analysis& analysis : analyses()) {
        if ((taking == Taking::classic && !analysis.classic) ||
            (taking == Taking::window && analysis.runInWindow == nullptr)) {
            continue;
        }
        configurations.push_back(&analysis.files());
        reads.push_back(analysis.reads);
        digestions.push_back(analysis.digestion);
    }
    return std::make_unique<core::SharedWalk>(folder, std::move(configurations), std::move(reads),
                                              core::SharedWalk::kReadBudget, std::move(digestions));
}

}  // namespace quillon::scan
