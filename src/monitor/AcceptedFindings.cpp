#include "monitor/AcceptedFindings.h"

#include <algorithm>
#include <ctime>
#include <nlohmann/json.hpp>

#include "platform/Log.h"
#include "report/Baseline.h"

namespace quillon::monitor {

namespace {

using json = nlohmann::ordered_json;

std::string isoDate(std::chrono::system_clock::time_point date) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::chrono::system_clock::time_point parseIsoDate(const std::string& text) {
    std::tm utc{};
    if (strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc) == nullptr) {
        return {};
    }
    return std::chrono::system_clock::from_time_t(timegm(&utc));
}

const platform::Logger& logger() {
    static const platform::Logger instance("com.quillon", "AcceptedFindings");
    return instance;
}

}  // namespace

AcceptedFindings::AcceptedFindings(platform::Defaults& defaults) : defaults_(defaults) {
    const auto stored = defaults_.data(kStorageKey);
    if (!stored) {
        return;
    }
    const json document = json::parse(*stored, nullptr, false);
    if (!document.is_object() || !document.contains("projects") ||
        !document["projects"].is_object()) {
        logger().error("Failed to decode accepted findings.");
        return;
    }
    for (const auto& [project, list] : document["projects"].items()) {
        if (!list.is_array()) {
            continue;
        }
        auto& entries = projects_[project];
        for (const auto& item : list) {
            if (!item.is_object() || !item.contains("fingerprint") ||
                !item["fingerprint"].is_string()) {
                continue;
            }
            AcceptedFinding entry;
            entry.fingerprint = item["fingerprint"].get<std::string>();
            entry.ruleId = item.value("ruleId", "");
            entry.title = item.value("title", "");
            entry.file = item.value("file", "");
            entry.line = item.value("line", 0u);
            entry.reason = item.value("reason", "");
            entry.date = parseIsoDate(item.value("date", ""));
            entries.push_back(std::move(entry));
        }
    }
}

void AcceptedFindings::save() {
    json projects = json::object();
    for (const auto& [project, entries] : projects_) {
        if (entries.empty()) {
            continue;
        }
        json list = json::array();
        for (const auto& entry : entries) {
            list.push_back({{"fingerprint", entry.fingerprint},
                            {"ruleId", entry.ruleId},
                            {"title", entry.title},
                            {"file", entry.file},
                            {"line", entry.line},
                            {"reason", entry.reason},
                            {"date", isoDate(entry.date)}});
        }
        projects[project] = std::move(list);
    }
    json document = {{"version", 1}, {"projects", std::move(projects)}};
    defaults_.setData(kStorageKey,
                      document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void AcceptedFindings::accept(const platform::FileURL& project, const core::Finding& finding,
                              const std::string& reason,
                              std::chrono::system_clock::time_point date) {
    std::lock_guard lock(mutex_);
    auto& entries = projects_[project.absoluteString()];
    const bool known = std::any_of(entries.begin(), entries.end(), [&](const auto& entry) {
        return entry.fingerprint == finding.fingerprint;
    });
    if (known) {
        return;
    }
    entries.push_back({finding.fingerprint, finding.ruleId, finding.title, finding.location.file,
                       finding.location.line, reason, date});
    save();
    logger().info("Accepted finding %s in %s", finding.fingerprint, project.path());
}

bool AcceptedFindings::restore(const platform::FileURL& project, const std::string& fingerprint) {
    std::lock_guard lock(mutex_);
    const auto found = projects_.find(project.absoluteString());
    if (found == projects_.end()) {
        return false;
    }
    auto& entries = found->second;
    const auto before = entries.size();
    std::erase_if(entries, [&](const auto& entry) { return entry.fingerprint == fingerprint; });
    if (entries.size() == before) {
        return false;
    }
    save();
    logger().info("Restored finding %s in %s", fingerprint, project.path());
    return true;
}

std::vector<AcceptedFinding> AcceptedFindings::entries(const platform::FileURL& project) const {
    std::lock_guard lock(mutex_);
    const auto found = projects_.find(project.absoluteString());
    return found == projects_.end() ? std::vector<AcceptedFinding>{} : found->second;
}

std::set<std::string> AcceptedFindings::fingerprints(const platform::FileURL& project) const {
    std::set<std::string> out;
    for (const auto& entry : entries(project)) {
        out.insert(entry.fingerprint);
    }
    return out;
}

std::string AcceptedFindings::exportBaseline(const platform::FileURL& project) const {
    std::vector<report::BaselineEntry> baseline;
    for (const auto& entry : entries(project)) {
        baseline.push_back({entry.fingerprint, entry.ruleId, entry.file, entry.line, entry.reason});
    }
    return report::renderBaseline(baseline);
}

}  // namespace quillon::monitor
