#include "formats/pbxproj/ProjectModel.h"

#include <algorithm>
#include <cctype>
#include <unordered_map>
#include <unordered_set>

namespace quillon::formats::pbxproj {

std::string_view targetKindName(Target::Kind kind) {
    switch (kind) {
        case Target::Kind::native:
            return "native";
        case Target::Kind::aggregate:
            return "aggregate";
        case Target::Kind::legacy:
            return "legacy";
    }
    return "native";
}

namespace {

using Objects = std::unordered_map<std::string_view, const PlistValue*>;

std::string joined(const PlistValue& value, char separator) {
    if (value.isString() || value.kind == PlistValue::Kind::data) {
        return std::string(value.text);
    }
    std::string out;
    for (const auto& item : value.items) {
        if (!item.isString()) {
            continue;
        }
        if (!out.empty()) {
            out.push_back(separator);
        }
        out.append(item.text);
    }
    return out;
}

const PlistValue* object(const Objects& objects, std::string_view id) {
    const auto found = objects.find(id);
    return found == objects.end() ? nullptr : found->second;
}

class Builder {
  public:
    explicit Builder(const PlistValue& root) {
        const PlistValue* all = root.find("objects");
        if (all == nullptr || !all->isDictionary()) {
            return;
        }
        for (const auto& [id, value] : all->entries) {
            if (value.isDictionary() && objects_.emplace(id, &value).second) {
                ordered_.push_back({id, &value, value.string("isa")});
            }
        }
        // Parents of groups and files, for placing .xcconfig references. Objects are visited
        // in file order: the tree's memory is laid out so.
        for (const auto& [id, value, isa] : ordered_) {
            if (isa != "PBXGroup" && isa != "PBXVariantGroup" && isa != "XCVersionGroup") {
                continue;
            }
            if (const PlistValue* children = value->find("children")) {
                for (const auto& child : children->items) {
                    if (child.isString()) {
                        parents_.emplace(child.text, id);
                    }
                }
            }
        }
        rootObject_ = object(objects_, root.string("rootObject"));
    }

    ProjectModel build() {
        ProjectModel model;
        std::unordered_set<std::string_view> listed;
        std::vector<std::string_view> targetIds;
        if (rootObject_ != nullptr) {
            model.projectConfigurations =
                configurations(rootObject_->string("buildConfigurationList"));
            if (const PlistValue* targets = rootObject_->find("targets")) {
                for (const auto& id : targets->items) {
                    if (id.isString()) {
                        targetIds.push_back(id.text);
                    }
                }
            }
        } else {
            // No usable root object: every target the file holds, in file order.
            for (const auto& [id, value, isa] : ordered_) {
                if (isa == "PBXNativeTarget" || isa == "PBXAggregateTarget" ||
                    isa == "PBXLegacyTarget") {
                    targetIds.push_back(id);
                }
            }
        }
        std::unordered_set<std::string_view> seenTargets;
        for (const std::string_view id : targetIds) {
            const PlistValue* value = object(objects_, id);
            if (value == nullptr || !seenTargets.insert(id).second) {
                continue;
            }
            model.targets.push_back(target(id, *value, listed));
        }
        for (const auto& [id, value, isa] : ordered_) {
            if (isa == "PBXShellScriptBuildPhase" && !listed.contains(id)) {
                model.unlistedPhases.push_back(phase(id, *value));
            }
        }
        return model;
    }

  private:
    static ShellScriptPhase phase(std::string_view id, const PlistValue& value) {
        ShellScriptPhase phase;
        phase.id = id;
        phase.name = value.string("name");
        phase.shellPath = value.string("shellPath");
        phase.line = value.line;
        if (const PlistValue* script = value.find("shellScript")) {
            phase.script = joined(*script, '\n');
            phase.scriptLine = script->line;
        }
        return phase;
    }

    Target target(std::string_view id, const PlistValue& value,
                  std::unordered_set<std::string_view>& listed) const {
        Target target;
        target.id = id;
        target.name = value.string("name");
        target.line = value.line;
        const std::string_view isa = value.string("isa");
        target.kind = isa == "PBXLegacyTarget"      ? Target::Kind::legacy
                      : isa == "PBXAggregateTarget" ? Target::Kind::aggregate
                                                    : Target::Kind::native;
        if (const PlistValue* phases = value.find("buildPhases")) {
            for (const auto& phaseId : phases->items) {
                const PlistValue* phaseValue =
                    phaseId.isString() ? object(objects_, phaseId.text) : nullptr;
                if (phaseValue == nullptr ||
                    phaseValue->string("isa") != "PBXShellScriptBuildPhase") {
                    continue;
                }
                listed.insert(phaseId.text);
                if (!spend(1 + phaseValue->string("shellScript").size() / 16)) {
                    continue;
                }
                target.phases.push_back(phase(phaseId.text, *phaseValue));
            }
        }
        if (const PlistValue* rules = value.find("buildRules")) {
            for (const auto& ruleId : rules->items) {
                const PlistValue* rule =
                    ruleId.isString() ? object(objects_, ruleId.text) : nullptr;
                if (rule == nullptr || rule->string("isa") != "PBXBuildRule") {
                    continue;
                }
                BuildRule entry;
                entry.id = ruleId.text;
                entry.name = rule->string("name");
                entry.fileType = rule->string("fileType");
                entry.line = rule->line;
                if (const PlistValue* patterns = rule->find("filePatterns")) {
                    entry.filePatterns = joined(*patterns, ' ');
                }
                if (const PlistValue* script = rule->find("script")) {
                    entry.script = joined(*script, '\n');
                    entry.scriptLine = script->line;
                }
                target.rules.push_back(std::move(entry));
            }
        }
        target.buildToolPath = value.string("buildToolPath");
        if (const PlistValue* arguments = value.find("buildArgumentsString")) {
            target.buildArgumentsString = joined(*arguments, ' ');
            target.buildArgumentsLine = arguments->line;
        }
        target.configurations = configurations(value.string("buildConfigurationList"));
        return target;
    }

    std::vector<BuildConfiguration> configurations(std::string_view listId) const {
        std::vector<BuildConfiguration> out;
        const PlistValue* list = object(objects_, listId);
        const PlistValue* ids = list != nullptr ? list->find("buildConfigurations") : nullptr;
        if (ids == nullptr) {
            return out;
        }
        for (const auto& id : ids->items) {
            const PlistValue* value = id.isString() ? object(objects_, id.text) : nullptr;
            if (value == nullptr) {
                continue;
            }
            BuildConfiguration configuration;
            configuration.id = id.text;
            configuration.name = value->string("name");
            configuration.line = value->line;
            const PlistValue* settings = value->find("buildSettings");
            if (settings != nullptr && spend(1 + settings->entries.size())) {
                for (const auto& [key, setting] : settings->entries) {
                    configuration.settings.push_back(
                        {std::string(key), joined(setting, ' '), setting.line});
                }
            }
            configuration.baseConfigurationPath =
                filePath(value->string("baseConfigurationReference"));
            out.push_back(std::move(configuration));
        }
        return out;
    }

    // A file reference's path relative to the project's folder, climbing its groups.
    std::string filePath(std::string_view id) const {
        std::string path;
        std::unordered_set<std::string_view> seen;
        std::string_view current = id;
        for (int step = 0; step < 64 && !current.empty() && seen.insert(current).second; ++step) {
            const PlistValue* value = object(objects_, current);
            if (value == nullptr) {
                break;
            }
            const std::string_view piece = value->string("path");
            const std::string_view tree = value->string("sourceTree");
            if (!piece.empty()) {
                path = path.empty() ? std::string(piece) : std::string(piece) + "/" + path;
            }
            if (tree == "SOURCE_ROOT" || tree == "<absolute>" ||
                (!tree.empty() && tree != "<group>")) {
                break;
            }
            const auto parent = parents_.find(current);
            if (parent == parents_.end()) {
                break;
            }
            current = parent->second;
        }
        return path;
    }

    // Targets may share phases and configuration lists; copies beyond this are dropped so that a
    // small file cannot make a model of quadratic size.
    bool spend(std::size_t count) const {
        if (budget_ < count) {
            exhausted_ = true;
            return false;
        }
        budget_ -= count;
        return true;
    }

  public:
    bool exhausted() const { return exhausted_; }

  private:
    mutable std::size_t budget_ = 4'000'000;
    mutable bool exhausted_ = false;
    struct Ordered {
        std::string_view id;
        const PlistValue* value;
        std::string_view isa;
    };
    Objects objects_;
    std::vector<Ordered> ordered_;  // in file order
    std::unordered_map<std::string_view, std::string_view> parents_;
    const PlistValue* rootObject_ = nullptr;
};

}  // namespace

ProjectModel buildProjectModel(const PlistDocument& document) {
    Builder builder(document.root);
    ProjectModel model = builder.build();
    model.error = document.error;
    model.errorLine = document.errorLine;
    if (builder.exhausted() && model.error.empty()) {
        model.error = "too many shared phases or settings; the rest were not read";
    }
    return model;
}

ProjectModel readProjectModel(std::string_view text) {
    // Build files and the other phase kinds say nothing about scripts or settings; of the file
    // references only those that configurations name as their .xcconfig are needed. Those ids
    // are found with a plain search first, so the rest need not be kept.
    std::unordered_set<std::string_view> configurationFiles;
    static constexpr std::string_view kBase = "baseConfigurationReference";
    for (std::size_t at = text.find(kBase); at != std::string_view::npos;
         at = text.find(kBase, at + kBase.size())) {
        std::size_t start = at + kBase.size();
        while (start < text.size() && (text[start] == ' ' || text[start] == '\t' ||
                                       text[start] == '=' || text[start] == '"')) {
            ++start;
        }
        std::size_t end = start;
        while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end]))) {
            ++end;
        }
        configurationFiles.insert(text.substr(start, end - start));
    }
    static const std::unordered_set<std::string_view> kUnneeded = {
        "PBXSourcesBuildPhase",
        "PBXFrameworksBuildPhase",
        "PBXResourcesBuildPhase",
        "PBXHeadersBuildPhase",
        "PBXContainerItemProxy",
        "PBXTargetDependency",
        "XCSwiftPackageProductDependency",
        "PBXCopyFilesBuildPhase"};
    const PlistReader::SkipRule skip = [&](std::string_view key, std::string_view isa) {
        if (isa == "PBXBuildFile") {
            return true;  // most of the records of any project: compared before any look-up
        }
        if (isa == "PBXFileReference") {
            return !configurationFiles.contains(key);
        }
        return kUnneeded.contains(isa);
    };
    return buildProjectModel(PlistReader::read(text, skip));
}

namespace {

std::size_t bytesOf(const BuildConfiguration& configuration) {
    std::size_t bytes = sizeof configuration + configuration.id.size() + configuration.name.size() +
                        configuration.baseConfigurationPath.size();
    for (const auto& setting : configuration.settings) {
        bytes += sizeof setting + setting.key.size() + setting.value.size();
    }
    return bytes;
}

std::size_t bytesOf(const ShellScriptPhase& phase) {
    return sizeof phase + phase.id.size() + phase.name.size() + phase.shellPath.size() +
           phase.script.size();
}

}  // namespace

std::size_t approximateBytes(const ProjectModel& model) {
    std::size_t bytes = sizeof model + model.error.size();
    for (const auto& target : model.targets) {
        bytes += sizeof target + target.id.size() + target.name.size() +
                 target.buildToolPath.size() + target.buildArgumentsString.size();
        for (const auto& phase : target.phases) {
            bytes += bytesOf(phase);
        }
        for (const auto& rule : target.rules) {
            bytes += sizeof rule + rule.id.size() + rule.name.size() + rule.filePatterns.size() +
                     rule.fileType.size() + rule.script.size();
        }
        for (const auto& configuration : target.configurations) {
            bytes += bytesOf(configuration);
        }
    }
    for (const auto& configuration : model.projectConfigurations) {
        bytes += bytesOf(configuration);
    }
    for (const auto& phase : model.unlistedPhases) {
        bytes += bytesOf(phase);
    }
    return bytes;
}

}  // namespace quillon::formats::pbxproj
