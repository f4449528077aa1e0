#include "report/Baseline.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace quillon::report {

const BaselineEntry* Baseline::entry(const std::string& fingerprint) const {
    for (const auto& candidate : entries) {
        if (candidate.fingerprint == fingerprint) {
            return &candidate;
        }
    }
    return nullptr;
}

Baseline parseBaseline(const std::string& text, std::string& error, bool& ok) {
    Baseline baseline;
    ok = false;
    const auto document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object() || !document.contains("findings") ||
        !document["findings"].is_array()) {
        error = "not a baseline file (a JSON object with a \"findings\" list)";
        return baseline;
    }
    for (const auto& item : document["findings"]) {
        if (!item.is_object() || !item.contains("fingerprint") ||
            !item["fingerprint"].is_string()) {
            error = "a finding without a \"fingerprint\"";
            return baseline;
        }
        BaselineEntry entry;
        entry.fingerprint = item["fingerprint"].get<std::string>();
        entry.ruleId = item.value("ruleId", "");
        entry.file = item.value("file", "");
        entry.line = item.value("line", 0u);
        entry.reason = item.value("reason", "");
        baseline.fingerprints.insert(entry.fingerprint);
        baseline.entries.push_back(std::move(entry));
    }
    ok = true;
    return baseline;
}

std::optional<Baseline> readBaseline(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot be read";
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    bool ok = false;
    Baseline baseline = parseBaseline(text.str(), error, ok);
    if (!ok) {
        return std::nullopt;
    }
    return baseline;
}

std::string renderBaseline(const std::vector<BaselineEntry>& entries) {
    nlohmann::ordered_json document;
    document["version"] = 1;
    document["tool"] = "quillon-scan";
    document["findings"] = nlohmann::ordered_json::array();
    std::set<std::string> seen;
    for (const auto& entry : entries) {
        if (!seen.insert(entry.fingerprint).second) {
            continue;
        }
        document["findings"].push_back({{"fingerprint", entry.fingerprint},
                                        {"ruleId", entry.ruleId},
                                        {"file", entry.file},
                                        {"line", entry.line},
                                        {"reason", entry.reason}});
    }
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string renderBaseline(const std::vector<core::Finding>& findings) {
    std::vector<BaselineEntry> entries;
    entries.reserve(findings.size());
    for (const auto& finding : findings) {
        entries.push_back({finding.fingerprint, finding.ruleId, finding.location.file,
                           finding.location.line, ""});
    }
    return renderBaseline(entries);
}

}  // namespace quillon::report
