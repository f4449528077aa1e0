#pragma once

#include <string>
#include <vector>

#include "core/Finding.h"

namespace quillon::core::pipelines {

// One readable block per typed finding, for people: severity and title, where, what, the
// evidence, the decoded layers and what to do. Addresses are defanged; long texts are cut.
std::vector<std::string> describeFinding(const Finding& finding);

// "App.xcodeproj/project.pbxproj:46, target 'App', build phase 'Run Script' (id 1A2B)"
std::string describeLocation(const FindingLocation& location);

}  // namespace quillon::core::pipelines
