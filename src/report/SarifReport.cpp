#include "report/SarifReport.h"

#include <nlohmann/json.hpp>

#include "detectors/buildscripts/BuildScriptRules.h"
#include "platform/FileURL.h"
#include "report/ClassicFindings.h"

namespace quillon::report {

namespace {

using json = nlohmann::ordered_json;

std::string_view level(core::Severity severity) {
    switch (severity) {
        case core::Severity::critical:
        case core::Severity::high:
            return "error";
        case core::Severity::medium:
            return "warning";
        case core::Severity::low:
            return "note";
    }
    return "note";
}

// GitHub reads 9.0 and above as critical, 7.0 high, 4.0 medium, below that low.
std::string securitySeverity(core::Severity severity) {
    switch (severity) {
        case core::Severity::critical:
            return "9.5";
        case core::Severity::high:
            return "8.0";
        case core::Severity::medium:
            return "5.5";
        case core::Severity::low:
            return "2.0";
    }
    return "2.0";
}

std::string pascalName(std::string_view id) {
    std::string out;
    bool upper = true;
    for (const char c : id) {
        if (c == '-' || c == '/') {
            upper = true;
            continue;
        }
        out.push_back(upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c);
        upper = false;
    }
    return out;
}

json rule(std::string_view id, core::Severity severity, std::string_view title,
          std::string_view explanation, std::string_view attack, std::string_view help) {
    json tags = json::array({"security"});
    if (!attack.empty()) {
        tags.push_back("external/attack/" + std::string(attack));
    }
    json entry;
    entry["id"] = id;
    entry["name"] = pascalName(id);
    entry["shortDescription"] = {{"text", title}};
    entry["fullDescription"] = {{"text", explanation}};
    entry["help"] = {{"text", std::string(explanation) + " " + std::string(help)},
                     {"markdown", "**" + std::string(title) + "**\n\n" + std::string(explanation) +
                                      "\n\n" + std::string(help)}};
    entry["defaultConfiguration"] = {{"level", level(severity)}};
    entry["properties"] = {
        {"security-severity", securitySeverity(severity)}, {"precision", "high"}, {"tags", tags}};
    return entry;
}

std::string baseId(std::size_t index) {
    return index == 0 ? "SRCROOT" : "SRCROOT" + std::to_string(index + 1);
}

json location(const std::string& file, std::uint32_t line, std::size_t folderIndex) {
    json physical;
    physical["artifactLocation"] = {{"uri", platform::percentEncodePath(file)},
                                    {"uriBaseId", baseId(folderIndex)}};
    if (line > 0) {
        physical["region"] = {{"startLine", line}};
    }
    return {{"physicalLocation", physical}};
}

}  // namespace

std::string renderSarif(const std::vector<FolderReport>& folders, std::string_view version) {
    json rules = json::array();
    std::vector<std::string> ruleIds;
    for (const auto& entry : detectors::buildscripts::rules()) {
        rules.push_back(rule(entry.id, entry.severity, entry.title, entry.explanation, entry.attack,
                             "Each result says where the script runs and what to do about it."));
        ruleIds.emplace_back(entry.id);
    }
    for (const auto& entry : classicRules()) {
        rules.push_back(rule(entry.id, entry.severity, entry.title, entry.explanation, entry.attack,
                             "Review the file; accept a reviewed finding with a baseline."));
        ruleIds.emplace_back(entry.id);
    }

    json run;
    run["tool"] = {{"driver",
                    {{"name", "Quillon"},
                     {"fullName", "Quillon build-time malware scanner for Xcode projects"},
                     {"version", version},
                     {"semanticVersion", version},
                     {"informationUri", "https://quillon.example.invalid/"},
                     {"rules", rules}}}};
    json notifications = json::array();
    json bases = json::object();
    json results = json::array();
    for (std::size_t f = 0; f < folders.size(); ++f) {
        const FolderReport& folder = folders[f];
        std::string uri = platform::FileURL(folder.folder, true).absoluteString();
        bases[baseId(f)] = {{"uri", uri}};
        for (const auto& diagnostic : folder.diagnostics) {
            notifications.push_back(
                {{"level", "warning"},
                 {"message", {{"text", diagnostic.file + ": " + diagnostic.message}}},
                 {"locations", json::array({location(diagnostic.file, 0, f)})}});
        }
        for (std::size_t i = 0; i < folder.findings.size(); ++i) {
            const core::Finding& finding = folder.findings[i];
            json result;
            result["ruleId"] = finding.ruleId;
            const auto index = std::find(ruleIds.begin(), ruleIds.end(), finding.ruleId);
            if (index != ruleIds.end()) {
                result["ruleIndex"] = index - ruleIds.begin();
            }
            result["level"] = level(finding.severity);
            std::string text = finding.title + ": " + finding.message;
            if (!finding.evidence.empty()) {
                std::string evidence = finding.evidence.substr(0, 400);
                if (evidence.size() < finding.evidence.size()) {
                    evidence += "…";
                }
                text += " Evidence: " + evidence;
            }
            if (!finding.remediation.empty()) {
                text += " " + finding.remediation;
            }
            result["message"] = {{"text", core::defang(text)}};
            result["locations"] =
                json::array({location(finding.location.file, finding.location.line, f)});
            result["partialFingerprints"] = {{"quillonFingerprint/v1", finding.fingerprint}};
            json layers = json::array();
            for (const auto& layer : finding.layers) {
                layers.push_back({{"method", layer.method}, {"text", core::defang(layer.text)}});
            }
            json properties;
            properties["severity"] = core::severityName(finding.severity);
            properties["target"] = finding.location.target;
            properties["container"] = finding.location.container;
            properties["containerKind"] = finding.location.containerKind;
            properties["objectId"] = finding.location.objectId;
            properties["decodedLayers"] = layers;
            result["properties"] = properties;
            json suppressions = json::array();
            if (const BaselineEntry* accepted = folder.suppressions[i]) {
                suppressions.push_back(
                    {{"kind", "external"},
                     {"status", "accepted"},
                     {"justification",
                      accepted->reason.empty() ? "accepted in the baseline" : accepted->reason}});
            }
            result["suppressions"] = suppressions;
            results.push_back(std::move(result));
        }
    }
    run["invocations"] = json::array(
        {{{"executionSuccessful", true}, {"toolExecutionNotifications", notifications}}});
    run["originalUriBaseIds"] = bases;
    run["results"] = results;
    json log;
    log["$schema"] = "https://json.schemastore.org/sarif-2.1.0.json";
    log["version"] = "2.1.0";
    log["runs"] = json::array({run});
    return log.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace quillon::report
