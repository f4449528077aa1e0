#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/pbxproj/PlistValue.h"

namespace quillon::formats::pbxproj {

// One build setting as written in a configuration (or an .xcconfig file).
struct BuildSetting {
    std::string key;
    std::string value;  // arrays are joined with spaces, as Xcode passes them to scripts
    std::uint32_t line = 0;
};

struct BuildConfiguration {
    std::string id;
    std::string name;
    std::uint32_t line = 0;
    std::vector<BuildSetting> settings;
    // The .xcconfig file named by baseConfigurationReference, relative to the folder that holds
    // the .xcodeproj package; empty when there is none or it cannot be placed.
    std::string baseConfigurationPath;
};

struct ShellScriptPhase {
    std::string id;
    std::string name;  // empty when the file has none (Xcode shows "Run Script")
    std::string shellPath;
    std::string script;            // the list form is joined with line feeds
    std::uint32_t line = 0;        // where the phase object starts
    std::uint32_t scriptLine = 0;  // where its script value starts
};

struct BuildRule {
    std::string id;
    std::string name;
    std::string filePatterns;
    std::string fileType;
    std::string script;
    std::uint32_t line = 0;
    std::uint32_t scriptLine = 0;
};

struct Target {
    enum class Kind { native, aggregate, legacy };
    std::string id;
    std::string name;
    Kind kind = Kind::native;
    std::uint32_t line = 0;
    std::vector<ShellScriptPhase> phases;
    std::vector<BuildRule> rules;
    std::vector<BuildConfiguration> configurations;
    // Legacy targets run a tool with arguments instead of phases.
    std::string buildToolPath;
    std::string buildArgumentsString;
    std::uint32_t buildArgumentsLine = 0;
};

// The parts of a project file the build-script analysis needs: targets (native, aggregate,
// legacy) with their script phases, build rules and configurations, and the project-level
// configurations. Script phases that no target lists are kept in `unlistedPhases`.
struct ProjectModel {
    std::vector<Target> targets;
    std::vector<BuildConfiguration> projectConfigurations;
    std::vector<ShellScriptPhase> unlistedPhases;
    std::string error;  // the reader's first problem; the model holds what was read before it
    std::uint32_t errorLine = 0;
};

// Builds the model from a project file's text. Linear in the input, bounded in depth (see
// PlistReader); references that point nowhere, or in circles, are ignored. Thread-safe.
ProjectModel readProjectModel(std::string_view text);
ProjectModel buildProjectModel(const PlistDocument& document);

// About the memory a model holds, its strings and records: for callers that keep models.
std::size_t approximateBytes(const ProjectModel& model);

std::string_view targetKindName(Target::Kind kind);  // "native", "aggregate", "legacy"

}  // namespace quillon::formats::pbxproj
