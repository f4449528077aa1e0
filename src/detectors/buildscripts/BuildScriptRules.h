#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "analysis/shell/ShellEvaluator.h"
#include "core/Finding.h"

// The rules of the build-script analysis. They judge what the shell evaluator worked out a
// script would do (its trace), never keywords in the raw text, and they weigh it by where the
// script runs: the build and git run phases, rules, legacy targets, scheme actions, hooks and
// the files those run; nothing runs a developer's own script.
namespace quillon::detectors::buildscripts {

struct Rule {
    std::string_view id;
    core::Severity severity;  // the usual severity; some rules lower it by context
    std::string_view title;
    std::string_view explanation;  // why it matters
    std::string_view attack;       // ATT&CK technique, empty when none fits
};

// Every rule, in a fixed order (the README and the SARIF driver list them so).
const std::vector<Rule>& rules();
const Rule& rule(std::string_view id);

namespace ids {
inline constexpr std::string_view kDecodedDataExecuted = "decoded-data-executed";
inline constexpr std::string_view kDownloadedContentExecuted = "downloaded-content-executed";
inline constexpr std::string_view kSilencedDetached = "silenced-detached-execution";
inline constexpr std::string_view kRemoteShell = "remote-shell";
inline constexpr std::string_view kDecodedPayloadWritten = "decoded-payload-written";
inline constexpr std::string_view kKnownInfrastructure = "known-xcsset-infrastructure";
inline constexpr std::string_view kPersistence = "persistence-written";
inline constexpr std::string_view kOtherProjects = "other-projects-modified";
inline constexpr std::string_view kDefenceTampering = "defence-tampering";
inline constexpr std::string_view kSettingExecuted = "build-setting-executed";
inline constexpr std::string_view kUndefinedSetting = "undefined-setting-executed";
inline constexpr std::string_view kEncodedSetting = "encoded-setting-unreferenced";
inline constexpr std::string_view kObfuscatedCommand = "obfuscated-command";
inline constexpr std::string_view kBudgetExhausted = "analysis-budget-exhausted";
}  // namespace ids

// Who runs a script.
enum class Runner {
    buildPhase,
    buildRule,
    legacyTarget,
    schemeAction,
    gitHook,
    referencedScript,  // a file that one of the above runs
    developerScript,   // a shell file nothing in the project runs
    buildSetting,      // a setting's decoded value, judged on its own
};

// Where a script comes from, for locations, messages and remedies.
struct ScriptOrigin {
    Runner runner = Runner::buildPhase;
    core::FindingLocation location;  // line: where the script starts
    bool fixedLine = false;  // the script is one property-list string: every finding has its line
    std::string phaseName;   // as Xcode shows it
    std::string remedy;      // how to take the script out ("Remove build phase 'X' ...")
    std::string_view scriptText;  // the script as written, to tell what its text shows
};

// The findings a trace warrants. Pure; thread-safe.
std::vector<core::Finding> judgeTrace(const analysis::shell::Trace& trace,
                                      const ScriptOrigin& origin);

// The domains of public XCSSET reports; they confirm and explain, detection never rests on them.
const std::vector<std::string_view>& knownXcssetDomains();
// The first known domain standing as a host name in `text`, or empty.
std::string_view findKnownDomain(std::string_view text);

}  // namespace quillon::detectors::buildscripts
