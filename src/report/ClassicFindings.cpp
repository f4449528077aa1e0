#include "report/ClassicFindings.h"

#include "platform/TextFile.h"

namespace quillon::report {

using core::Severity;

const std::vector<ClassicRule>& classicRules() {
    static const std::vector<ClassicRule> kRules = {
        {"xcsset-remote-download-execution",
         "CRITICAL: remote download \u2192 execution (curl | bash)", Severity::low,
         "curl and a shell in one file",
         "The file mentions curl and bash or sh. A score contribution of the XCSSET scan; it does "
         "not decide its verdict.",
         "T1105"},
        {"xcsset-base64-execution-chain", "CRITICAL: base64 decoded execution chain", Severity::low,
         "base64 and a shell in one file",
         "The file mentions base64 and sh. A score contribution of the XCSSET scan.", "T1027"},
        {"xcsset-echo-base64-bash", "CRITICAL: echo \u2192 base64 \u2192 bash injection chain",
         Severity::low, "echo, base64 and bash in one file",
         "The file mentions echo, base64 and bash. A score contribution of the XCSSET scan.",
         "T1027"},
        {"xcsset-chmod", "HIGH: executable permission escalation (chmod detected)", Severity::high,
         "Executable permission escalation (chmod)",
         "The file makes something executable with chmod +x or chmod 777, the XCSSET way of "
         "planting a binary. This is the finding the XCSSET scan's verdict rests on.",
         "T1222.002"},
        {"xcsset-remote-url", "MEDIUM: remote URL reference detected", Severity::low,
         "Remote URL in the file", "The file names an http or https address. A score contribution.",
         ""},
        {"xcsset-project-file", "HIGH: Xcode project file", Severity::low, "Xcode project file",
         "The file is a project file. A score contribution every project file gets.", ""},
        {"xcsset-build-phase-script", "CRITICAL: Xcode build-phase script injection", Severity::low,
         "Project file with a script phase",
         "The project file holds a script phase. A score contribution of the XCSSET scan.",
         "T1059.004"},
        {"xcsset-base64-payloads", "HIGH: Base64 payloads detected (", Severity::low,
         "Base64 payloads in the file",
         "The file holds long base64 runs or base64 passed to echo or printf. A score "
         "contribution.",
         "T1027"},
        {"xcsset-decoded-payload", "CRITICAL: decoded executable payload present", Severity::low,
         "Decoded payload with commands",
         "A base64 payload of the file decodes to text with shell commands. A score contribution.",
         "T1027"},
        {"xcsset-persistence", "HIGH: persistence mechanism detected", Severity::low,
         "Launch agent or launchctl mentioned",
         "The file mentions launchctl, LaunchAgents or LaunchDaemons. A score contribution.",
         "T1543.001"},
        {"xcodespy-obfuscated-build-script", "Obfuscated build script detected", Severity::critical,
         "Obfuscated build script (XcodeSpy)",
         "A shellScript block puts its commands together from short variables and eval, or its "
         "reconstruction shows a dangerous pattern: the XcodeSpy scan's verdict.",
         "T1027.010"},
    };
    return kRules;
}

std::string relativePath(std::string_view path, std::string_view folder) {
    if (path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/') {
        return std::string(path.substr(folder.size() + 1));
    }
    return std::string(path);
}

std::vector<core::Finding> classicFindings(const scan::PipelineRun& run,
                                           const std::string& folder) {
    std::vector<core::Finding> out;
    const bool spy = run.name == "xcodespy";
    for (const auto& result : run.results) {
        std::string contentHash;
        bool contentRead = false;
        for (std::size_t i = 0; i < result.findings.size(); ++i) {
            const std::string& line = result.findings[i];
            const ClassicRule* matched = nullptr;
            for (const auto& rule : classicRules()) {
                if (line.starts_with(rule.finding)) {
                    matched = &rule;
                    break;
                }
            }
            if (matched == nullptr || (spy != matched->id.starts_with("xcodespy"))) {
                continue;
            }
            core::Finding finding;
            finding.ruleId = std::string(matched->id);
            finding.severity = matched->severity;
            finding.title = std::string(matched->title);
            finding.location.file = relativePath(result.file.path(), folder);
            finding.location.line = 1;  // the classic scans judge a file as a whole
            if (spy) {
                // The block as found and as reconstructed follow the verdict line.
                finding.message = line;
                for (std::size_t j = i + 1; j < result.findings.size(); ++j) {
                    if (result.findings[j] == "Obfuscated build script detected") {
                        break;
                    }
                    finding.evidence += result.findings[j] + "\n";
                }
            } else {
                if (!contentRead) {
                    // The file's text stands in the fingerprint by a digest: a changed script
                    // is a new finding, and no copy of a large file is made per rule line.
                    core::Finding digest;
                    digest.evidence = platform::readTextFile(result.file.path()).value_or("");
                    contentHash = core::computeFingerprint(digest);
                    contentRead = true;
                }
                finding.message = line + " (score " + std::to_string(result.riskScore) + ")";
                finding.evidence = line + "\n" + contentHash;
            }
            finding.fingerprint = core::computeFingerprint(finding);
            if (!spy) {
                // People read the rule line; the file's text only made the fingerprint.
                finding.evidence = line;
            }
            out.push_back(std::move(finding));
        }
    }
    return out;
}

}  // namespace quillon::report
