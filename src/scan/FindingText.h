#pragma once

#include <string>
#include <vector>

#include "core/Finding.h"

namespace quillon::scan {

// One readable block per typed finding, for people: severity and title, where, what, the
// evidence, the decoded layers and what to do. Addresses are defanged; long texts are cut.
std::vector<std::string> describeFinding(const core::Finding& finding);

// "App.xcodeproj/project.pbxproj:46, target 'App', build phase 'Run Script' (id 1A2B)"
std::string describeLocation(const core::FindingLocation& location);

}  // namespace quillon::scan
