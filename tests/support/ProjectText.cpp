#include "support/ProjectText.h"

namespace quillon::testing {

std::string plistQuoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out.push_back(c);
        }
    }
    return out + "\"";
}

namespace {

std::string id(int n) {
    std::string digits = std::to_string(n);
    return "AA" + std::string(22 - digits.size(), '0') + digits;
}

}  // namespace

std::string projectText(const ProjectLayout& layout) {
    const bool legacy = !layout.legacyTool.empty();
    std::string out =
        "// !$*UTF8*$!\n{\n\tarchiveVersion = 1;\n\tclasses = {\n\t};\n\tobjectVersion = "
        "56;\n\tobjects = {\n\n";
    out += "/* Begin PBXFileReference section */\n";
    out += "\t\t" + id(2) +
           " /* AppDelegate.swift */ = {isa = PBXFileReference; path = AppDelegate.swift; "
           "sourceTree = \"<group>\"; };\n";
    if (!layout.baseConfiguration.empty()) {
        const std::size_t slash = layout.baseConfiguration.rfind('/');
        const std::string name =
            layout.baseConfiguration.substr(slash == std::string::npos ? 0 : slash + 1);
        out += "\t\t" + id(3) + " /* " + name +
               " */ = {isa = PBXFileReference; lastKnownFileType = text.xcconfig; path = " +
               plistQuoted(name) + "; sourceTree = \"<group>\"; };\n";
    }
    out += "/* End PBXFileReference section */\n\n/* Begin PBXGroup section */\n";
    out += "\t\t" + id(20) + " = {\n\t\t\tisa = PBXGroup;\n\t\t\tchildren = (\n\t\t\t\t" + id(21) +
           ",\n\t\t\t);\n\t\t\tsourceTree = \"<group>\";\n\t\t};\n";
    std::string folder;
    if (!layout.baseConfiguration.empty()) {
        const std::size_t slash = layout.baseConfiguration.rfind('/');
        folder = slash == std::string::npos ? "" : layout.baseConfiguration.substr(0, slash);
    }
    out += "\t\t" + id(21) +
           " /* Config */ = {\n\t\t\tisa = PBXGroup;\n\t\t\tchildren = (\n\t\t\t\t" + id(2) +
           ",\n" + (layout.baseConfiguration.empty() ? "" : "\t\t\t\t" + id(3) + ",\n") +
           "\t\t\t);\n" + (folder.empty() ? "" : "\t\t\tpath = " + plistQuoted(folder) + ";\n") +
           "\t\t\tsourceTree = \"<group>\";\n\t\t};\n";
    out += "/* End PBXGroup section */\n\n";
    const std::string kind = legacy ? "PBXLegacyTarget" : "PBXNativeTarget";
    out += "/* Begin " + kind + " section */\n\t\t" + id(4) + " /* " + layout.targetName +
           " */ = {\n\t\t\tisa = " + kind + ";\n";
    if (legacy) {
        out += "\t\t\tbuildArgumentsString = " + plistQuoted(layout.legacyArguments) + ";\n";
        out += "\t\t\tbuildToolPath = " + layout.legacyTool + ";\n";
        out += "\t\t\tpassBuildSettingsInEnvironment = 1;\n";
    }
    out += "\t\t\tbuildConfigurationList = " + id(8) + ";\n\t\t\tbuildPhases = (\n";
    for (std::size_t i = 0; i < layout.phases.size(); ++i) {
        out +=
            "\t\t\t\t" + id(100 + static_cast<int>(i)) + " /* " + layout.phases[i].name + " */,\n";
    }
    out += "\t\t\t);\n\t\t\tbuildRules = (\n";
    for (std::size_t i = 0; i < layout.rules.size(); ++i) {
        out += "\t\t\t\t" + id(200 + static_cast<int>(i)) + ",\n";
    }
    out += "\t\t\t);\n\t\t\tname = " + plistQuoted(layout.targetName) +
           ";\n\t\t\tproductName = " + plistQuoted(layout.targetName) + ";\n\t\t};\n";
    out += "/* End " + kind + " section */\n\n/* Begin PBXProject section */\n";
    out += "\t\t" + id(7) +
           " /* Project object */ = {\n\t\t\tisa = PBXProject;\n\t\t\tbuildConfigurationList = " +
           id(10) + ";\n\t\t\tmainGroup = " + id(20) + ";\n\t\t\ttargets = (\n\t\t\t\t" + id(4) +
           ",\n\t\t\t);\n\t\t};\n";
    out += "/* End PBXProject section */\n\n";
    if (!layout.rules.empty()) {
        out += "/* Begin PBXBuildRule section */\n";
        for (std::size_t i = 0; i < layout.rules.size(); ++i) {
            out += "\t\t" + id(200 + static_cast<int>(i)) +
                   " /* PBXBuildRule */ = {\n\t\t\tisa = PBXBuildRule;\n\t\t\tcompilerSpec = "
                   "com.apple.compilers.proxy.script;\n\t\t\tfilePatterns = " +
                   plistQuoted(layout.rules[i].filePatterns) +
                   ";\n\t\t\tfileType = pattern.proxy;\n\t\t\tisEditable = 1;\n\t\t\tscript = " +
                   plistQuoted(layout.rules[i].script) + ";\n\t\t};\n";
        }
        out += "/* End PBXBuildRule section */\n\n";
    }
    out += "/* Begin PBXShellScriptBuildPhase section */\n";
    for (std::size_t i = 0; i < layout.phases.size(); ++i) {
        out += "\t\t" + id(100 + static_cast<int>(i)) + " /* " + layout.phases[i].name +
               " */ = {\n\t\t\tisa = PBXShellScriptBuildPhase;\n\t\t\tbuildActionMask = "
               "2147483647;\n\t\t\tfiles = (\n\t\t\t);\n\t\t\tname = " +
               plistQuoted(layout.phases[i].name) +
               ";\n\t\t\trunOnlyForDeploymentPostprocessing = 0;\n\t\t\tshellPath = " +
               layout.phases[i].shellPath +
               ";\n\t\t\tshellScript = " + plistQuoted(layout.phases[i].script) + ";\n\t\t};\n";
    }
    out +=
        "/* End PBXShellScriptBuildPhase section */\n\n/* Begin XCBuildConfiguration section */\n";
    auto configuration = [&](int n, const char* name,
                             const std::vector<std::pair<std::string, std::string>>& settings,
                             bool base) {
        out += "\t\t" + id(n) + " /* " + name + " */ = {\n\t\t\tisa = XCBuildConfiguration;\n";
        if (base && !layout.baseConfiguration.empty()) {
            out += "\t\t\tbaseConfigurationReference = " + id(3) + ";\n";
        }
        out += "\t\t\tbuildSettings = {\n";
        for (const auto& [key, value] : settings) {
            out += "\t\t\t\t" + key + " = " + plistQuoted(value) + ";\n";
        }
        out += "\t\t\t};\n\t\t\tname = " + std::string(name) + ";\n\t\t};\n";
    };
    configuration(9, "Debug", layout.settings, true);
    configuration(11, "Release", layout.releaseSettings, true);
    configuration(12, "Debug", {}, false);
    out += "/* End XCBuildConfiguration section */\n\n/* Begin XCConfigurationList section */\n";
    out += "\t\t" + id(8) +
           " = {\n\t\t\tisa = XCConfigurationList;\n\t\t\tbuildConfigurations = (\n\t\t\t\t" +
           id(9) + ",\n\t\t\t\t" + id(11) + ",\n\t\t\t);\n\t\t};\n";
    out += "\t\t" + id(10) +
           " = {\n\t\t\tisa = XCConfigurationList;\n\t\t\tbuildConfigurations = (\n\t\t\t\t" +
           id(12) + ",\n\t\t\t);\n\t\t};\n";
    out += "/* End XCConfigurationList section */\n\t};\n\trootObject = " + id(7) +
           " /* Project object */;\n}\n";
    return out;
}

}  // namespace quillon::testing
