#include "detectors/buildscripts/BuildScriptScanner.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "analysis/shell/Decoders.h"
#include "analysis/shell/ShellEvaluator.h"
#include "core/FileDiscovery.h"
#include "detectors/buildscripts/BuildScriptRules.h"
#include "formats/pbxproj/ProjectModel.h"
#include "formats/xcconfig/XcconfigFile.h"
#include "formats/xcscheme/SchemeFile.h"
#include "platform/TextFile.h"

namespace quillon::detectors::buildscripts {

namespace shell = analysis::shell;
using core::Finding;
using core::FindingLocation;
using formats::pbxproj::BuildSetting;
using formats::pbxproj::ProjectModel;
using formats::pbxproj::Target;

namespace {

std::string lowerExtension(std::string_view path) {
    std::string extension(platform::pathExtensionOf(path.substr(path.rfind('/') + 1)));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

std::string parentOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

// "a/b/../c/./d" gives "a/c/d"; keeps a leading "/".
std::string normalise(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out = path.starts_with("/") ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        out += (i == 0 ? "" : "/") + std::string(parts[i]);
    }
    return out;
}

// Whether a file starts with a UTF-16 or UTF-32 byte-order mark: its replacement characters
// then come from units that could not be decoded.
bool startsWithWideMark(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char mark[2] = {};
    in.read(mark, 2);
    return in.gcount() == 2 &&
           ((mark[0] == '\xFF' && mark[1] == '\xFE') || (mark[0] == '\xFE' && mark[1] == '\xFF') ||
            (mark[0] == '\0' && mark[1] == '\0'));
}

constexpr const char* kMalformedWideText =
    "malformed UTF-16 or UTF-32 text; read with replacement characters";

bool hasReplacement(std::string_view text) {
    return text.find("\xEF\xBF\xBD") != std::string_view::npos;
}

// A project file's model, and whether its text held replacement characters.
struct ProjectDigest {
    ProjectModel model;
    bool replaced = false;
};

struct SettingRecord {
    std::string key;
    std::string value;
    FindingLocation location;
    std::string configuration;
};

// Settings of one level, merged over its configurations: the longest value of each key wins, so
// a payload set in one configuration only is still seen.
void mergeLevel(shell::Environment& environment, const std::vector<BuildSetting>& settings,
                std::set<std::string>& levelKeys) {
    for (const auto& setting : settings) {
        auto found = environment.find(setting.key);
        const bool sameLevel = levelKeys.contains(setting.key);
        if (found != environment.end() && sameLevel &&
            found->second.text.size() >= setting.value.size()) {
            continue;
        }
        shell::Value value;
        value.text = setting.value;
        value.taint = shell::kSetting;
        value.setting = setting.key;
        environment[setting.key] = std::move(value);
        levelKeys.insert(setting.key);
    }
}

// Xcode expands $(NAME) and ${NAME} in setting values before a script sees them.
void expandSettingReferences(shell::Environment& environment) {
    for (int round = 0; round < 4; ++round) {
        bool changed = false;
        for (auto& [key, value] : environment) {
            if (value.text.find('$') == std::string::npos || value.text.size() > 65536) {
                continue;
            }
            std::string out;
            const std::string& text = value.text;
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (text[i] == '$' && i + 1 < text.size() &&
                    (text[i + 1] == '(' || text[i + 1] == '{')) {
                    const char close = text[i + 1] == '(' ? ')' : '}';
                    const std::size_t end = text.find(close, i + 2);
                    if (end != std::string::npos) {
                        const std::string name = text.substr(i + 2, end - i - 2);
                        const bool plain =
                            !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
                                return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
                            });
                        const auto referenced =
                            plain && name != key ? environment.find(name) : environment.end();
                        if (referenced != environment.end() &&
                            out.size() + referenced->second.text.size() <= 65536) {
                            out += referenced->second.text;
                            i = end;
                            changed = true;
                            continue;
                        }
                    }
                }
                out.push_back(text[i]);
            }
            value.text = std::move(out);
        }
        if (!changed) {
            break;
        }
    }
}

class Scan {
  public:
    Scan(const platform::FileURL& folder, const std::vector<platform::FileURL>& files)
        : root_(folder.path()), files_(files) {}

    BuildScriptReport run() {
        // Projects first, for the settings every other script is read with; then what they
        // name, then hooks and the scripts nothing named.
        std::vector<const std::string*> projects, schemes, settings, hooks, scripts;
        for (const auto& file : files_) {
            if (file.isDirectory()) {
                continue;
            }
            const std::string& path = file.path();
            const std::string extension = lowerExtension(path);
            const std::string parent = parentOf(path);
            if (extension == "pbxproj") {
                projects.push_back(&path);
            } else if (extension == "xcscheme") {
                schemes.push_back(&path);
            } else if (extension == "xcconfig") {
                settings.push_back(&path);
            } else if (core::isGitHookPath(parent,
                                           std::string_view(path).substr(parent.size() + 1))) {
                hooks.push_back(&path);
            } else if (extension == "sh" || extension == "bash" || extension == "zsh" ||
                       extension == "command") {
                scripts.push_back(&path);
            }
        }
        for (const std::string* path : projects) {
            scanProject(*path);
        }
        for (const std::string* path : schemes) {
            scanScheme(*path);
        }
        for (const std::string* path : settings) {
            scanStandaloneXcconfig(*path);
        }
        runQueue();
        for (const std::string* path : hooks) {
            if (!analysed_.contains(*path)) {
                analyseFile(*path, Runner::gitHook, environmentFor(parentOf(*path)), "git hook",
                            "Delete the git hook " + relative(*path) + " (git runs it on its own)");
            }
        }
        for (const std::string* path : scripts) {
            if (analysed_.contains(*path)) {
                continue;
            }
            // Developers keep their scripts beside their projects, never inside a project
            // package or in Xcode's per-user data: a script there is where XCSSET hides what
            // its phase runs.
            const std::string where = relative(*path);
            const bool hidden = where.find(".xcodeproj/") != std::string::npos ||
                                where.find(".xcworkspace/") != std::string::npos ||
                                where.find("xcuserdata/") != std::string::npos;
            analyseFile(*path, hidden ? Runner::referencedScript : Runner::developerScript,
                        environmentFor(parentOf(*path)),
                        hidden ? "script hidden in a project package" : "shell script",
                        hidden ? "Delete " + where + " (no project keeps scripts there)"
                               : "Review " + where + " before running it");
        }
        judgeEncodedSettings();
        core::sortFindings(report_.findings);
        return std::move(report_);
    }

  private:
    std::string relative(std::string_view path) const {
        if (path.size() > root_.size() && path.starts_with(root_) && path[root_.size()] == '/') {
            return std::string(path.substr(root_.size() + 1));
        }
        if (root_ == "/" && path.starts_with("/")) {
            return std::string(path.substr(1));
        }
        return std::string(path);
    }

    bool inside(std::string_view path) const {
        return root_ == "/" ||
               (path.size() > root_.size() && path.starts_with(root_) && path[root_.size()] == '/');
    }

    void diagnose(const std::string& path, std::string message) {
        if (diagnosed_.insert(path + '\x1f' + message).second) {
            report_.diagnostics.push_back({relative(path), std::move(message)});
        }
    }

    platform::TextLoan read(const std::string& path) {
        platform::TextFileRead read =
            platform::readTextFileUpTo(path, BuildScriptScanner::kMaxFileBytes);
        if (read.tooLarge) {
            diagnose(path,
                     "larger than the 32 MB limit of the build-script analysis; not analysed");
        } else if (!read.text) {
            diagnose(path, read.failure.empty() ? "not a regular file" : read.failure);
        } else if (hasReplacement(*read.text) && startsWithWideMark(path)) {
            diagnose(path, kMalformedWideText);
        }
        return {path, std::move(read.text)};
    }

    shell::Limits limitsFor(std::size_t scriptBytes) const {
        shell::Limits limits;
        // The file's shared budget, but never less than a share that grows with the script:
        // a decoy in front cannot leave the injection behind it unread.
        const std::size_t floorBytes = 64 * 1024 + 64 * scriptBytes;
        const std::size_t floorSteps = 500 + scriptBytes / 4;
        limits.bytes = std::max(std::min(limits.bytes, bytesLeft_), floorBytes);
        limits.steps = std::max(std::min(limits.steps, stepsLeft_), floorSteps);
        return limits;
    }

    void spend(const shell::Trace& trace) {
        bytesLeft_ -= std::min(bytesLeft_, trace.bytesUsed);
        stepsLeft_ -= std::min(stepsLeft_, trace.stepsUsed);
    }

    struct Pending {
        std::string path;
        shell::Environment environment;
        std::string runBy;
        std::string projectDir;
        int depth = 0;
    };

    // Judges one script; queues the project files it runs.
    void analyse(std::string_view text, const shell::Environment& environment,
                 const ScriptOrigin& origin, const std::string& projectDir, int depth,
                 std::uint32_t firstLine) {
        ++report_.scripts;
        const shell::Trace trace = shell::ShellEvaluator::evaluate(
            text, environment, limitsFor(text.size()), origin.fixedLine ? 1 : firstLine);
        spend(trace);
        referenced_.insert(trace.referencedVariables.begin(), trace.referencedVariables.end());
        ScriptOrigin judged = origin;
        judged.scriptText = text;
        for (auto& finding : judgeTrace(trace, judged)) {
            report_.findings.push_back(std::move(finding));
        }
        for (const auto& exec : trace.execs) {
            if (exec.path.empty() || !exec.code.text.empty()) {
                continue;
            }
            queueScript(exec.path, environment, projectDir,
                        origin.location.containerKind + " '" + origin.location.container + "'" +
                            (origin.location.target.empty()
                                 ? ""
                                 : " of target '" + origin.location.target + "'"),
                        depth + 1);
        }
    }

    void queueScript(std::string path, const shell::Environment& environment,
                     const std::string& projectDir, const std::string& runBy, int depth) {
        if (depth > 4) {
            return;
        }
        if (path.starts_with("~") || path.starts_with("/dev/")) {
            return;
        }
        std::string resolved;
        if (path.find("${") != std::string::npos) {
            // An unknown variable in front: match the rest against the folder's files.
            const std::size_t close = path.rfind('}');
            const std::string tail = path.substr(close + 1);
            if (tail.size() < 2) {
                return;
            }
            for (const auto& file : files_) {
                if (!file.isDirectory() && file.path().ends_with(tail)) {
                    resolved = file.path();
                    break;
                }
            }
            if (resolved.empty()) {
                return;
            }
        } else {
            resolved = normalise(path.starts_with("/") ? path : projectDir + "/" + path);
        }
        if (!inside(resolved) || analysed_.contains(resolved)) {
            return;
        }
        struct stat info {};
        if (::stat(resolved.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            return;
        }
        analysed_.insert(resolved);
        queue_.push_back({resolved, environment, runBy, projectDir, depth});
    }

    void runQueue() {
        while (!queue_.empty()) {
            Pending pending = std::move(queue_.front());
            queue_.pop_front();
            const auto text = read(pending.path);
            if (!text) {
                continue;
            }
            ScriptOrigin origin;
            origin.runner = Runner::referencedScript;
            origin.location.file = relative(pending.path);
            origin.location.line = 1;
            origin.location.container = "run by " + pending.runBy;
            origin.remedy = "Restore " + relative(pending.path) +
                            " from a trusted copy, or remove what runs it (" + pending.runBy + ")";
            analyse(*text, pending.environment, origin, pending.projectDir, pending.depth, 1);
        }
    }

    void analyseFile(const std::string& path, Runner runner, const shell::Environment& environment,
                     const std::string& kind, const std::string& remedy) {
        analysed_.insert(path);
        const auto text = read(path);
        if (!text) {
            return;
        }
        ScriptOrigin origin;
        origin.runner = runner;
        origin.location.file = relative(path);
        origin.location.line = 1;
        origin.location.container = std::string(shell::commandBaseName(path));
        origin.location.containerKind = kind;
        origin.remedy = remedy;
        analyse(*text, environment, origin, parentOf(path), 0, 1);
        runQueue();
    }

    // Variables Xcode gives every script, known from where the project sits.
    static shell::Environment baseEnvironment(const std::string& projectDir,
                                              const std::string& projectName,
                                              const std::string& targetName) {
        shell::Environment environment;
        auto set = [&](const char* key, std::string text) {
            shell::Value value;
            value.text = std::move(text);
            environment[key] = std::move(value);
        };
        // What macOS gives every process: scripts run "$SHELL" as readily as sh.
        set("SHELL", "/bin/zsh");
        set("BASH", "/bin/bash");
        set("SRCROOT", projectDir);
        set("PROJECT_DIR", projectDir);
        set("SOURCE_ROOT", projectDir);
        set("PODS_ROOT", projectDir + "/Pods");
        if (!projectName.empty()) {
            set("PROJECT_NAME", projectName);
            set("PROJECT_FILE_PATH", projectDir + "/" + projectName + ".xcodeproj");
        }
        if (!targetName.empty()) {
            set("TARGET_NAME", targetName);
            set("PRODUCT_NAME", targetName);
        }
        return environment;
    }

    // The nearest project above a file lends it its settings; elsewhere the folder's own.
    const shell::Environment& environmentFor(const std::string& directory) {
        const shell::Environment* best = nullptr;
        std::size_t bestLength = 0;
        for (const auto& [projectDir, environment] : projectEnvironments_) {
            const bool above =
                directory.starts_with(projectDir) &&
                (directory.size() == projectDir.size() || directory[projectDir.size()] == '/');
            if (above && projectDir.size() >= bestLength) {
                best = &environment;
                bestLength = projectDir.size();
            }
        }
        if (best != nullptr) {
            return *best;
        }
        auto [slot, made] = folderEnvironments_.try_emplace(directory);
        if (made) {
            slot->second = baseEnvironment(directory, "", "");
        }
        return slot->second;
    }

    std::vector<BuildSetting> xcconfigSettings(const std::string& projectDir,
                                               const std::string& relativePath,
                                               const std::string& configurationName,
                                               const std::string& configurationId,
                                               const std::string& targetName) {
        std::vector<BuildSetting> settings;
        if (relativePath.empty()) {
            return settings;
        }
        std::vector<std::string> stack;
        collectXcconfig(normalise(relativePath.starts_with("/") ? relativePath
                                                                : projectDir + "/" + relativePath),
                        settings, stack, configurationName, configurationId, targetName);
        return settings;
    }

    void collectXcconfig(const std::string& path, std::vector<BuildSetting>& settings,
                         std::vector<std::string>& stack, const std::string& configurationName,
                         const std::string& configurationId, const std::string& targetName) {
        if (stack.size() >= 16 || !inside(path) ||
            std::find(stack.begin(), stack.end(), path) != stack.end()) {
            return;
        }
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            return;
        }
        const auto text = read(path);
        if (!text) {
            return;
        }
        xcconfigsUsed_.insert(path);
        stack.push_back(path);
        const auto file = formats::xcconfig::parseXcconfig(*text);
        for (const auto& include : file.includes) {
            collectXcconfig(
                normalise(include.path.starts_with("/") ? include.path
                                                        : parentOf(path) + "/" + include.path),
                settings, stack, configurationName, configurationId, targetName);
        }
        for (const auto& setting : file.settings) {
            settings.push_back(setting);
            if (recordedXcconfigSettings_
                    .insert(path + '\x1f' + setting.key + '\x1f' + std::to_string(setting.line))
                    .second) {
                SettingRecord record;
                record.key = setting.key;
                record.value = setting.value;
                record.location.file = relative(path);
                record.location.line = setting.line;
                record.location.target = targetName;
                record.location.container = setting.key;
                record.location.containerKind = "build setting";
                record.configuration = configurationName;
                settingRecords_.push_back(std::move(record));
            }
        }
        (void)configurationId;
        stack.pop_back();
    }

    void recordSettings(const formats::pbxproj::BuildConfiguration& configuration,
                        const std::string& file, const std::string& targetName) {
        for (const auto& setting : configuration.settings) {
            SettingRecord record;
            record.key = setting.key;
            record.value = setting.value;
            record.location.file = file;
            record.location.line = setting.line;
            record.location.objectId = configuration.id;
            record.location.target = targetName;
            record.location.container = setting.key;
            record.location.containerKind = "build setting";
            record.configuration = configuration.name;
            settingRecords_.push_back(std::move(record));
        }
    }

    // The project's model: from another scan's read of this cycle, or read here.
    std::shared_ptr<const ProjectDigest> readProject(const std::string& path) {
        if (auto digested = platform::SharedReads::takeDigest<ProjectDigest>(
                path, BuildScriptScanner::digest, BuildScriptScanner::kMaxFileBytes)) {
            if (digested->replaced && startsWithWideMark(path)) {
                diagnose(path, kMalformedWideText);
            }
            return digested;
        }
        const auto text = read(path);
        if (!text) {
            return nullptr;
        }
        return std::make_shared<const ProjectDigest>(
            ProjectDigest{formats::pbxproj::readProjectModel(*text), false});
    }

    void scanProject(const std::string& path) {
        const auto digested = readProject(path);
        if (digested == nullptr) {
            return;
        }
        const ProjectModel& model = digested->model;
        if (!model.error.empty()) {
            diagnose(path, "read only in part: " + model.error + " (line " +
                               std::to_string(model.errorLine) + ")");
        }
        const std::string package = parentOf(path);  // .../App.xcodeproj
        const std::string projectDir = parentOf(package);
        std::string projectName(shell::commandBaseName(package));
        if (projectName.ends_with(".xcodeproj")) {
            projectName.resize(projectName.size() - 10);
        }
        const std::string file = relative(path);

        // Project level, lowest first: its .xcconfig files, then its own settings.
        shell::Environment projectLevel = baseEnvironment(projectDir, projectName, "");
        {
            std::set<std::string> keys;
            for (const auto& configuration : model.projectConfigurations) {
                mergeLevel(projectLevel,
                           xcconfigSettings(projectDir, configuration.baseConfigurationPath,
                                            configuration.name, configuration.id, ""),
                           keys);
            }
            keys.clear();
            for (const auto& configuration : model.projectConfigurations) {
                mergeLevel(projectLevel, configuration.settings, keys);
                recordSettings(configuration, file, "");
            }
        }
        shell::Environment union_ = projectLevel;
        for (const auto& target : model.targets) {
            shell::Environment environment = projectLevel;
            for (auto& [key, value] : baseEnvironment(projectDir, projectName, target.name)) {
                environment[key] = value;
            }
            std::set<std::string> keys;
            for (const auto& configuration : target.configurations) {
                mergeLevel(environment,
                           xcconfigSettings(projectDir, configuration.baseConfigurationPath,
                                            configuration.name, configuration.id, target.name),
                           keys);
            }
            keys.clear();
            for (const auto& configuration : target.configurations) {
                mergeLevel(environment, configuration.settings, keys);
                recordSettings(configuration, file, target.name);
            }
            expandSettingReferences(environment);
            for (const auto& [key, value] : environment) {
                auto& slot = union_[key];
                if (slot.text.size() < value.text.size()) {
                    slot = value;
                }
            }
            scanTarget(target, environment, file, projectDir);
        }
        expandSettingReferences(union_);
        for (const auto& phase : model.unlistedPhases) {
            scanPhase(phase, nullptr, union_, file, projectDir);
        }
        auto& stored = projectEnvironments_[projectDir];
        for (auto& [key, value] : union_) {
            auto& slot = stored[key];
            if (slot.text.size() < value.text.size()) {
                slot = value;
            }
        }
        runQueue();
    }

    void scanPhase(const formats::pbxproj::ShellScriptPhase& phase, const Target* target,
                   const shell::Environment& environment, const std::string& file,
                   const std::string& projectDir) {
        ScriptOrigin origin;
        origin.runner = Runner::buildPhase;
        origin.fixedLine = true;
        origin.phaseName = phase.name.empty() ? "Run Script" : phase.name;
        origin.location.file = file;
        origin.location.line = phase.scriptLine != 0 ? phase.scriptLine : phase.line;
        origin.location.objectId = phase.id;
        origin.location.target = target != nullptr ? target->name : "";
        origin.location.container = origin.phaseName;
        origin.location.containerKind = "build phase";
        origin.remedy =
            "Remove build phase '" + origin.phaseName + "' (id " + phase.id + ") " +
            (target != nullptr ? "from target '" + target->name + "'" : "from the project file");
        std::string script = phase.script;
        const std::string shellName(shell::commandBaseName(phase.shellPath));
        if (!phase.shellPath.empty() && shellName != "sh" && shellName != "bash" &&
            shellName != "zsh" && shellName != "dash" && shellName != "ksh") {
            // Another interpreter runs the phase: judge it as that interpreter given the code.
            analyseInterpreterPhase(phase, origin, environment, projectDir);
            return;
        }
        analyse(script, environment, origin, projectDir, 0, origin.location.line);
    }

    void analyseInterpreterPhase(const formats::pbxproj::ShellScriptPhase& phase,
                                 const ScriptOrigin& origin, const shell::Environment& environment,
                                 const std::string& projectDir) {
        // "/usr/bin/python3" with code: the same as `python3 -c CODE` in sh.
        shell::Environment withCode = environment;
        shell::Value code;
        code.text = phase.script;
        withCode["QUILLON_PHASE_CODE"] = code;
        analyse("\"" + phase.shellPath + "\" -c \"$QUILLON_PHASE_CODE\"", withCode, origin,
                projectDir, 0, origin.location.line);
    }

    void scanTarget(const Target& target, const shell::Environment& environment,
                    const std::string& file, const std::string& projectDir) {
        for (const auto& phase : target.phases) {
            scanPhase(phase, &target, environment, file, projectDir);
        }
        for (const auto& buildRule : target.rules) {
            if (buildRule.script.empty()) {
                continue;
            }
            ScriptOrigin origin;
            origin.runner = Runner::buildRule;
            origin.fixedLine = true;
            const std::string name = !buildRule.name.empty() ? buildRule.name
                                     : !buildRule.filePatterns.empty()
                                         ? "files matching " + buildRule.filePatterns
                                         : "files of type " + buildRule.fileType;
            origin.location.file = file;
            origin.location.line =
                buildRule.scriptLine != 0 ? buildRule.scriptLine : buildRule.line;
            origin.location.objectId = buildRule.id;
            origin.location.target = target.name;
            origin.location.container = name;
            origin.location.containerKind = "build rule";
            origin.remedy = "Remove the build rule for " + name + " (id " + buildRule.id +
                            ") from target '" + target.name + "'";
            analyse(buildRule.script, environment, origin, projectDir, 0, origin.location.line);
        }
        if (target.kind == Target::Kind::legacy && !target.buildToolPath.empty()) {
            ScriptOrigin origin;
            origin.runner = Runner::legacyTarget;
            origin.fixedLine = true;
            origin.location.file = file;
            origin.location.line =
                target.buildArgumentsLine != 0 ? target.buildArgumentsLine : target.line;
            origin.location.objectId = target.id;
            origin.location.target = target.name;
            origin.location.container = target.name;
            origin.location.containerKind = "legacy target";
            origin.remedy = "Remove the legacy target '" + target.name + "' (id " + target.id +
                            ") or restore its build tool and arguments";
            // Xcode runs the tool with the arguments split as a shell would split them.
            analyse("\"" + target.buildToolPath + "\" " + target.buildArgumentsString, environment,
                    origin, projectDir, 0, origin.location.line);
        }
    }

    void scanScheme(const std::string& path) {
        const auto text = read(path);
        if (!text) {
            return;
        }
        const auto scheme = formats::xcscheme::parseScheme(*text);
        if (!scheme.error.empty() && scheme.scripts.empty()) {
            diagnose(path, "read only in part: " + scheme.error);
        }
        // .../App.xcodeproj/xcshareddata/xcschemes/X.xcscheme: the project sits above the package.
        std::string directory = parentOf(path);
        std::string projectDir = directory;
        for (std::string up = directory; !up.empty() && up.size() >= root_.size();
             up = parentOf(up)) {
            if (up.ends_with(".xcodeproj") || up.ends_with(".xcworkspace")) {
                projectDir = parentOf(up);
                break;
            }
        }
        const shell::Environment& environment = environmentFor(projectDir);
        for (const auto& script : scheme.scripts) {
            ScriptOrigin origin;
            origin.runner = Runner::schemeAction;
            origin.fixedLine = true;
            origin.location.file = relative(path);
            origin.location.line = script.line;
            origin.location.container =
                (script.title.empty() ? std::string("Run Script") : script.title) + " (" +
                script.stage + ")";
            origin.location.containerKind = "scheme action";
            origin.remedy =
                "Remove the " + script.stage + " '" + script.title + "' from " + relative(path);
            if (!script.shell.empty() && !shell::commandBaseName(script.shell).ends_with("sh")) {
                formats::pbxproj::ShellScriptPhase phase;
                phase.shellPath = script.shell;
                phase.script = script.script;
                analyseInterpreterPhase(phase, origin, environment, projectDir);
            } else {
                analyse(script.script, environment, origin, projectDir, 0, script.line);
            }
        }
        runQueue();
    }

    void scanStandaloneXcconfig(const std::string& path) {
        if (xcconfigsUsed_.contains(path)) {
            return;
        }
        std::vector<BuildSetting> settings;
        std::vector<std::string> stack;
        collectXcconfig(path, settings, stack, "", "", "");
    }

    // A long encoded value that decodes to commands, in a setting nothing refers to.
    void judgeEncodedSettings() {
        std::set<std::string> reported;
        for (const auto& record : settingRecords_) {
            if (referenced_.contains(record.key) || record.value.size() < 64 ||
                !(shell::looksBase64(record.value, 64) || shell::looksHex(record.value, 64))) {
                continue;
            }
            std::vector<core::DecodedLayer> layers;
            std::string text = record.value;
            for (int round = 0; round < 6; ++round) {
                shell::Decoded decoded;
                const char* method = nullptr;
                std::string trimmed = text;
                trimmed.erase(
                    std::remove_if(
                        trimmed.begin(), trimmed.end(),
                        [](char c) { return c == '"' || c == '\'' || c == ' ' || c == '\n'; }),
                    trimmed.end());
                if (trimmed.size() >= 2 && static_cast<unsigned char>(trimmed[0]) == 0x1f &&
                    static_cast<unsigned char>(trimmed[1]) == 0x8b) {
                    decoded = shell::inflate(trimmed, 1u << 20);
                    method = "gzip";
                } else if (shell::looksHex(trimmed, 64) &&
                           trimmed.find_first_not_of("0123456789abcdefABCDEF") ==
                               std::string::npos) {
                    decoded = shell::decodeHexPlain(trimmed, 1u << 20);
                    method = "hex";
                } else if (shell::looksBase64(trimmed, 64)) {
                    decoded = shell::decodeBase64Lenient(trimmed, 1u << 20);
                    method = "base64";
                } else {
                    break;
                }
                if (!decoded.ok || decoded.bytes.empty()) {
                    break;
                }
                text = std::move(decoded.bytes);
                layers.push_back({method, text.substr(0, 4096)});
                if (shell::printableShare(text) >= 0.95 && !shell::looksBase64(text, 64) &&
                    !shell::looksHex(text, 64)) {
                    break;
                }
            }
            if (layers.empty() || shell::printableShare(text) < 0.95) {
                continue;
            }
            const shell::Trace trace =
                shell::ShellEvaluator::evaluate(text, {}, limitsFor(text.size()), 1);
            spend(trace);
            ScriptOrigin origin;
            origin.runner = Runner::buildSetting;
            origin.fixedLine = true;
            origin.location = record.location;
            origin.scriptText = record.value;
            const auto inner = judgeTrace(trace, origin);
            const bool commands =
                std::any_of(inner.begin(), inner.end(), core::isThreat) ||
                std::any_of(trace.commands.begin(), trace.commands.end(), [](const auto& c) {
                    return c.name == "curl" || c.name == "wget" || c.name == "sh" ||
                           c.name == "bash" || c.name == "eval" || c.name == "osascript" ||
                           c.name == "python3";
                });
            if (!commands || !reported.insert(record.location.file + '\x1f' + record.key).second) {
                continue;
            }
            Finding finding;
            finding.ruleId = std::string(ids::kEncodedSetting);
            finding.severity = core::Severity::medium;
            finding.title = std::string(rule(ids::kEncodedSetting).title);
            finding.location = record.location;
            finding.message =
                "The build setting " + record.key +
                (record.configuration.empty() ? "" : " (" + record.configuration + ")") +
                " holds encoded shell commands that nothing in the project runs yet."
                " It decodes to: " +
                text.substr(0, std::min<std::size_t>(text.find('\n'), 160));
            finding.evidence = record.key + " = " + record.value.substr(0, 200) +
                               (record.value.size() > 200 ? "…" : "");
            finding.layers = std::move(layers);
            finding.remediation =
                "Remove the build setting " + record.key + " from " + record.location.file + ".";
            finding.fingerprint = core::computeFingerprint(finding);
            report_.findings.push_back(std::move(finding));
        }
    }

    std::string root_;
    const std::vector<platform::FileURL>& files_;
    BuildScriptReport report_;
    std::set<std::string> referenced_;
    std::unordered_set<std::string> analysed_;
    std::unordered_set<std::string> diagnosed_;
    std::unordered_set<std::string> xcconfigsUsed_;
    std::unordered_set<std::string> recordedXcconfigSettings_;
    std::map<std::string, shell::Environment> projectEnvironments_;
    std::map<std::string, shell::Environment> folderEnvironments_;
    std::vector<SettingRecord> settingRecords_;
    std::deque<Pending> queue_;
    std::size_t bytesLeft_ = 256u << 20;
    std::size_t stepsLeft_ = 400'000;
};

}  // namespace

BuildScriptReport BuildScriptScanner::scan(const platform::FileURL& folder,
                                           const std::vector<platform::FileURL>& files) const {
    return Scan(folder, files).run();
}

bool BuildScriptScanner::takesDigest(const platform::FileURL& file) {
    return lowerExtension(file.path()) == "pbxproj";
}

platform::Digest BuildScriptScanner::digest(std::string_view text) {
    if (text.size() > kMaxFileBytes) {
        return {};  // over the analysis's limit: it never takes this file
    }
    auto digested = std::make_shared<ProjectDigest>(
        ProjectDigest{formats::pbxproj::readProjectModel(text), hasReplacement(text)});
    const std::size_t bytes = approximateBytes(digested->model);
    return {std::move(digested), bytes};
}

}  // namespace quillon::detectors::buildscripts
