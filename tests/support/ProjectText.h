#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quillon::testing {

// A small but complete project file, written the way Xcode writes one, for tests that need a
// project with particular phases, rules, settings or a legacy target.
struct ProjectLayout {
    struct Phase {
        std::string name;
        std::string script;
        std::string shellPath = "/bin/sh";
    };
    struct Rule {
        std::string filePatterns;
        std::string script;
    };
    std::string targetName = "App";
    std::vector<Phase> phases;
    std::vector<Rule> rules;
    std::vector<std::pair<std::string, std::string>> settings;  // the target's Debug settings
    std::vector<std::pair<std::string, std::string>> releaseSettings;
    std::string baseConfiguration;  // an .xcconfig path, relative to the project's folder
    std::string legacyTool;         // makes the target a PBXLegacyTarget
    std::string legacyArguments;
};

// Quotes a property-list string with Xcode's escapes.
std::string plistQuoted(const std::string& text);
std::string projectText(const ProjectLayout& layout);

}  // namespace quillon::testing
