#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/Finding.h"
#include "platform/Defaults.h"
#include "platform/FileURL.h"

namespace quillon::monitor {

// One finding the user checked and accepted, with their reason.
struct AcceptedFinding {
    std::string fingerprint;
    std::string ruleId;
    std::string title;
    std::string file;
    std::uint32_t line = 0;
    std::string reason;
    std::chrono::system_clock::time_point date;

    friend bool operator==(const AcceptedFinding&, const AcceptedFinding&) = default;
};

// The findings accepted per project, by fingerprint, kept in the application's defaults under
// "accepted_findings_v1" (never in the project folder):
//   {"version": 1, "projects": {"file:///path/": [{"fingerprint", "ruleId", "title", "file",
//    "line", "reason", "date"}]}}
// with dates in ISO 8601 UTC. A fingerprint covers the finding's evidence, so an accepted
// finding comes back when its evidence changes.
//
// Changes and saves run on the main thread; `fingerprints` may be read from any thread (the
// scan loops). An undecodable stored value is left in place and read as empty.
class AcceptedFindings {
  public:
    static constexpr const char* kStorageKey = "accepted_findings_v1";

    // `defaults` must outlive this.
    explicit AcceptedFindings(platform::Defaults& defaults);

    void accept(const platform::FileURL& project, const core::Finding& finding,
                const std::string& reason, std::chrono::system_clock::time_point date);
    // Takes an accepted finding back; false when it was not accepted.
    bool restore(const platform::FileURL& project, const std::string& fingerprint);

    std::vector<AcceptedFinding> entries(const platform::FileURL& project) const;
    std::set<std::string> fingerprints(const platform::FileURL& project) const;
    // A baseline file for `quillon-scan --baseline` with this project's accepted findings.
    std::string exportBaseline(const platform::FileURL& project) const;

  private:
    void save();

    platform::Defaults& defaults_;
    mutable std::mutex mutex_;
    std::map<std::string, std::vector<AcceptedFinding>> projects_;
};

}  // namespace quillon::monitor
