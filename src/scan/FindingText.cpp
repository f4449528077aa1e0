#include "scan/FindingText.h"

#include "platform/TextEscapes.h"

namespace quillon::scan {

using core::defang;
using core::Finding;
using core::FindingLocation;
using core::severityName;

namespace {

// Control characters would move a terminal's cursor: show them as escapes.
std::string visible(std::string_view text) {
    return platform::showControls(text, false);
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

}  // namespace

std::string describeLocation(const FindingLocation& location) {
    std::string out = location.file;
    if (location.line > 0) {
        out.append(":").append(std::to_string(location.line));
    }
    if (!location.target.empty()) {
        out += ", target '" + location.target + "'";
    }
    if (!location.container.empty() && location.container != location.target) {
        out.append(", ");
        if (location.containerKind.empty()) {
            out.append(location.container);
        } else {
            out.append(location.containerKind).append(" '").append(location.container).append("'");
        }
    }
    if (!location.objectId.empty()) {
        out += " (id " + location.objectId + ")";
    }
    return visible(out);
}

std::vector<std::string> describeFinding(const Finding& finding) {
    std::vector<std::string> lines;
    lines.push_back(upper(severityName(finding.severity)) + ": " + finding.title + " [" +
                    finding.ruleId + "]");
    lines.push_back("  where:    " + describeLocation(finding.location));
    lines.push_back("  what:     " + visible(defang(platform::cutUtf8(finding.message, 600))));
    if (!finding.evidence.empty()) {
        lines.push_back("  evidence: " + visible(defang(platform::cutUtf8(finding.evidence, 400))));
    }
    for (const auto& layer : finding.layers) {
        std::string_view text = layer.text;
        std::size_t shown = 0;
        bool first = true;
        while (!text.empty() && shown < 3) {
            const std::size_t newline = text.find('\n');
            const std::string_view row = text.substr(0, newline);
            lines.push_back((first ? "  decoded:  " + layer.method + ": " : "            ") +
                            visible(defang(platform::cutUtf8(row, 200))));
            first = false;
            ++shown;
            if (newline == std::string_view::npos) {
                text = {};
                break;
            }
            text.remove_prefix(newline + 1);
        }
        if (first) {
            lines.push_back("  decoded:  " + layer.method + ": (nothing readable)");
        } else if (!text.empty()) {
            lines.push_back("            …");
        }
    }
    if (!finding.remediation.empty()) {
        lines.push_back("  do:       " + visible(finding.remediation));
    }
    lines.push_back("  fingerprint: " + finding.fingerprint);
    return lines;
}

}  // namespace quillon::scan
