#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Finding.h"
#include "scan/ScanPipelines.h"

// The classic detectors' results as typed findings, for the outputs that need rule ids,
// levels and fingerprints (SARIF, baselines). Their own text findings stay as they are.
namespace quillon::report {

struct ClassicRule {
    std::string_view id;
    std::string_view finding;  // the detector's finding text, or its start for counted ones
    core::Severity severity;   // high only where the line decides the classic verdict
    std::string_view title;
    std::string_view explanation;
    std::string_view attack;
};

// The XCSSET rules in the detector's table order, then the XcodeSpy verdict.
const std::vector<ClassicRule>& classicRules();

// One finding per rule line of each result (severity and info lines are context, not rules).
// An XCSSET finding's evidence is its rule line and the file's text, so that an accepted
// finding comes back when the file changes; an XcodeSpy finding's evidence is the scripts it
// quotes. Unreadable files contribute their rule line alone. The line is 1: the file as a whole.
std::vector<core::Finding> classicFindings(const scan::PipelineRun& run, const std::string& folder);

// The path below `folder`, '/'-separated; the path itself when it is not below it.
std::string relativePath(std::string_view path, std::string_view folder);

}  // namespace quillon::report
