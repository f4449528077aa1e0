#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/Finding.h"

// Accepted findings, kept in a reviewable JSON file:
//   {"version": 1, "tool": "quillon-scan",
//    "findings": [{"fingerprint", "ruleId", "file", "line", "reason"}]}
// Only fingerprints decide; the rest is for the people who review the file.
namespace quillon::report {

struct BaselineEntry {
    std::string fingerprint;
    std::string ruleId;
    std::string file;
    std::uint32_t line = 0;
    std::string reason;
};

struct Baseline {
    std::vector<BaselineEntry> entries;
    std::set<std::string> fingerprints;

    bool accepts(const core::Finding& finding) const {
        return fingerprints.contains(finding.fingerprint);
    }
    const BaselineEntry* entry(const std::string& fingerprint) const;
};

// Reads a baseline file; nothing, with `error` set, when it is missing or malformed.
std::optional<Baseline> readBaseline(const std::string& path, std::string& error);
Baseline parseBaseline(const std::string& text, std::string& error, bool& ok);
// The file for `findings`, with empty reasons to fill in; each fingerprint once.
std::string renderBaseline(const std::vector<core::Finding>& findings);
// The file for entries accepted elsewhere (the desktop application), reasons kept.
std::string renderBaseline(const std::vector<BaselineEntry>& entries);

}  // namespace quillon::report
