#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "report/FolderReport.h"

namespace quillon::report {

// One SARIF 2.1.0 log with one run: the tool with every rule (the build-script rules, then the
// classic ones), a result per finding with its location relative to the folder's base id
// (SRCROOT, then SRCROOT2, ... for further folders), fingerprints, decoded layers and
// suppressions, and the scan errors as tool execution notifications. Arrays are always
// written, never null. Human-readable texts are defanged.
std::string renderSarif(const std::vector<FolderReport>& folders, std::string_view version);

}  // namespace quillon::report
