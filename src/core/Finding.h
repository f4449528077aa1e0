#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::core {

// How bad a typed finding is. A scan's verdict is a threat when any finding is high or worse.
enum class Severity { low, medium, high, critical };

std::string_view severityName(Severity severity);  // "low" ... "critical"

// Where a finding sits. Every field but `file` may be empty or 0 when unknown.
struct FindingLocation {
    std::string file;  // relative to the scanned folder, '/'-separated
    std::uint32_t line = 0;
    std::string objectId;  // the project object (phase, rule, target, configuration)
    std::string target;
    std::string container;      // the phase, rule, setting, scheme action or hook it lives in
    std::string containerKind;  // "build phase", "build rule", "build setting", ...

    friend bool operator==(const FindingLocation&, const FindingLocation&) = default;
};

// One step of a decoding chain the analysis followed: how, and what came out (truncated).
struct DecodedLayer {
    std::string method;  // "base64", "hex", "gzip", "rev", "tr", "ansi-c", "printf", ...
    std::string text;

    friend bool operator==(const DecodedLayer&, const DecodedLayer&) = default;
};

// A typed finding of the build-script analysis. Plain value; safe to copy between threads.
// `evidence` and the layers hold the text as found; printers defang it for people.
struct Finding {
    std::string ruleId;
    Severity severity = Severity::low;
    std::string title;
    std::string message;
    FindingLocation location;
    std::string evidence;
    std::vector<DecodedLayer> layers;
    std::string remediation;
    std::string fingerprint;

    friend bool operator==(const Finding&, const Finding&) = default;
};

// A file that discovery found but an analysis could not read or judge whole.
struct ScanDiagnostic {
    std::string file;     // relative to the scanned folder
    std::string message;  // "permission denied", "larger than the 32 MB limit", ...

    friend bool operator==(const ScanDiagnostic&, const ScanDiagnostic&) = default;
};

// A finding that makes a verdict: high or critical.
inline bool isThreat(const Finding& finding) {
    return finding.severity >= Severity::high;
}

// Stable across checkouts and machines: rule id, relative path, object id and the evidence with
// its white space collapsed. Lines are left out, so text added above a finding keeps it.
std::string computeFingerprint(const Finding& finding);

// Makes addresses harmless to click or paste: "https://host.ru/a" becomes "hxxps://host[.]ru/a".
// Schemes http, https and ftp lose their teeth; the dots of host names that stand after a
// scheme or look like a domain name are bracketed.
std::string defang(std::string_view text);

// Findings ordered most severe first, then by file and line; stable otherwise, so the rules'
// own order stands among findings of one place.
void sortFindings(std::vector<Finding>& findings);

}  // namespace quillon::core
