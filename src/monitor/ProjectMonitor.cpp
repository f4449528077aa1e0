#include "monitor/ProjectMonitor.h"

namespace quillon::monitor {

using core::isThreat;

std::vector<const core::Finding*> openThreats(const ProjectMonitor& monitor,
                                              const std::set<std::string>& accepted) {
    std::vector<const core::Finding*> out;
    for (const auto& finding : monitor.findings) {
        if (isThreat(finding) && !accepted.contains(finding.fingerprint)) {
            out.push_back(&finding);
        }
    }
    return out;
}

std::string reasonLine(const core::Finding& finding) {
    std::string line = finding.title;
    if (!finding.location.file.empty()) {
        line += ", in " + finding.location.file;
    }
    const auto& where = finding.location;
    if (!where.container.empty()) {
        std::string_view kind = where.containerKind;
        if (kind.starts_with("build ")) {
            kind.remove_prefix(6);  // "build phase" reads as "phase" after a file name
        }
        line += ", ";
        if (!kind.empty()) {
            line += std::string(kind) + " '" + where.container + "'";
        } else {
            line += where.container;
        }
    }
    return line;
}

}  // namespace quillon::monitor
