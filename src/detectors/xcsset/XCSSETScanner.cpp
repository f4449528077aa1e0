#include "detectors/xcsset/XCSSETScanner.h"

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_set>

#include "detectors/xcsset/PayloadMatchers.h"
#include "platform/Base64.h"
#include "platform/KeywordSet.h"
#include "platform/Regex.h"
#include "platform/TextFile.h"
#include "platform/Unicode.h"

namespace quillon::detectors::xcsset {

using platform::FileURL;
using platform::Regex;

namespace {

constexpr std::array<std::string_view, 4> kScannableExtensions = {"xcconfig", "xcassets", "pbxproj",
                                                                  "sh"};

constexpr std::array<std::string_view, 7> kDependencyMarkers = {
    "/pods/",        "/carthage/", "/swiftpm/",    "/sourcepackages/",
    "/deriveddata/", "/.build/",   "package.swift"};

bool contains(std::string_view text, std::string_view keyword) {
    return text.find(keyword) != std::string_view::npos;
}

struct Rule {
    bool fires;
    std::string finding;
    std::int64_t points;
};

}  // namespace

bool XCSSETScanner::canScan(const FileURL& file) const {
    return reads(file);
}

bool XCSSETScanner::reads(const FileURL& file) {
    const platform::LowercaseExtension extension(file);
    return std::find(kScannableExtensions.begin(), kScannableExtensions.end(), extension.view()) !=
           kScannableExtensions.end();
}

core::ScanResult XCSSETScanner::scan(const FileURL& file) const {
    platform::TextFileRead read = platform::readTextFileUpTo(file.path(), kInMemoryLimit);
    if (read.tooLarge) {
        return scanInPieces(file, read.size);
    }
    if (!read.text) {
        if (!read.failure.empty()) {
            platform::ReadFailureLog::note(file.path(), read.failure);
        }
        return core::ScanResult{file, 0, {}};
    }
    ScanContext context = buildContext(file, std::move(*read.text));
    core::ScanResult result = score(context);
    printReport(result, context);
    // Another scan of this cycle may read the file next.
    platform::SharedReads::giveBack(file.path(), std::move(context.content));
    return result;
}

bool XCSSETScanner::isValidCandidate(std::string_view candidate) {
    // Every accepted character is ASCII, so bytes and characters count alike here.
    return candidate.size() >= 20 && candidate.size() % 4 == 0 &&
           candidate.find_first_not_of(kBase64Alphabet) == std::string_view::npos;
}

std::vector<std::string> XCSSETScanner::extractShellPayloads(std::string_view content) const {
    std::vector<std::string> payloads;
    // The echo pattern's matches, then the printf pattern's, each in text order.
    for (const auto finder : {findEchoArguments, findPrintfArguments}) {
        finder(content, [&](const Regex::Match& match) {
            const auto group = match.group(content, 1);
            if (!group) {
                return true;
            }
            std::string cleaned;
            cleaned.reserve(group->size());
            for (char c : *group) {
                if (c != '\n' && c != ' ') {
                    cleaned.push_back(c);
                }
            }
            if (isValidCandidate(cleaned)) {
                payloads.push_back(std::move(cleaned));
            }
            return true;
        });
    }
    return payloads;
}

XCSSETScanner::ScanContext XCSSETScanner::buildContext(const FileURL& file,
                                                       std::string content) const {
    std::vector<std::string> candidates;
    findStandaloneRuns(content, [&](const Regex::Match& match) {
        const std::string_view run = match.text(content);
        if (isValidCandidate(run)) {
            candidates.emplace_back(run);
        }
        return true;
    });
    for (auto& payload : extractShellPayloads(content)) {
        candidates.push_back(std::move(payload));
    }

    ScanContext context;
    context.file = file;
    std::unordered_set<std::string_view> seen;
    context.encodedStrings.reserve(candidates.size());
    for (auto& candidate : candidates) {
        if (seen.insert(candidate).second) {
            context.encodedStrings.push_back(candidate);
        }
    }
    for (const auto& encoded : context.encodedStrings) {
        std::optional<std::string> decoded = platform::decodeBase64(encoded);
        if (decoded && platform::isValidUtf8(*decoded)) {
            context.decodedPayloads.push_back(std::move(*decoded));
        }
    }
    context.isDependency = isDependencyPath(file);
    context.content = std::move(content);
    return context;
}

bool XCSSETScanner::isDependencyPath(const FileURL& file) {
    const std::string path = platform::lowercase(file.path());
    return std::any_of(kDependencyMarkers.begin(), kDependencyMarkers.end(),
                       [&](std::string_view marker) { return contains(path, marker); });
}

std::string_view XCSSETScanner::severityLine(std::int64_t score) {
    if (score >= 90)
        return "SEVERITY: CRITICAL (XCSSET-like behavior)";
    if (score >= 60)
        return "SEVERITY: HIGH suspicion";
    if (score >= 30)
        return "SEVERITY: MEDIUM suspicion";
    return {};
}

namespace {

const std::vector<std::string_view> kKeywords = {
    "curl",      "bash",         "sh",           "base64",
    "echo",      "chmod +x",     "chmod 777",    "http://",
    "https://",  "shellscript",  "runscript",    "pbxshellscriptbuildphase",
    "launchctl", "launchagents", "launchdaemons"};

const platform::KeywordSet& keywordSet() {
    static const platform::KeywordSet set(kKeywords);
    return set;
}

}  // namespace

core::ScanResult XCSSETScanner::scanInPieces(const FileURL& file, std::uint64_t size) const {
    if (size > kLargestFile) {
        platform::ReadFailureLog::note(file.path(), "larger than 16 GB; not read");
        return core::ScanResult{file, 0, {}};
    }
    // The keyword rules hold across pieces: each piece starts with the end of the one before,
    // as long as the longest keyword. The base64 rules need the whole text and are not run.
    std::uint64_t present = 0;
    const bool read =
        platform::readFileInPieces(file.path(), 8u << 20, 32, [&](std::string_view piece) {
            present |= keywordSet().find(piece);
            return true;
        });
    if (!read) {
        return core::ScanResult{file, 0, {}};
    }
    platform::ReadFailureLog::note(
        file.path(),
        "larger than 256 MB; judged in pieces by its keywords, its base64 payloads "
        "not extracted");
    ScanContext context;
    context.file = file;
    context.isDependency = isDependencyPath(file);
    context.keywords = present;
    core::ScanResult result = score(context);
    printReport(result, context);
    return result;
}

core::ScanResult XCSSETScanner::score(const ScanContext& context) const {
    // One pass finds every keyword. The tests are substring tests on the full lowercase of the
    // content; for ASCII content that is an ASCII lowercase, which the keyword set applies as it
    // reads, so only other content is lowercased first.
    const platform::KeywordSet& keywords = keywordSet();
    const std::uint64_t present = context.keywords ? *context.keywords
                                  : platform::isAscii(context.content)
                                      ? keywords.find(context.content)
                                      : keywords.find(platform::lowercase(context.content));
    const auto has = [&](std::string_view keyword) {
        for (std::size_t k = 0; k < kKeywords.size(); ++k) {
            if (kKeywords[k] == keyword) {
                return (present >> k & 1) != 0;
            }
        }
        return false;
    };

    const bool projectFile = context.file.pathExtension() == "pbxproj";
    const std::array<Rule, 10> rules = {{
        {has("curl") && (has("bash") || has("sh")),
         "CRITICAL: remote download \u2192 execution (curl | bash)", 90},
        {has("base64") && has("sh"), "CRITICAL: base64 decoded execution chain", 85},
        {has("echo") && has("base64") && has("bash"),
         "CRITICAL: echo \u2192 base64 \u2192 bash injection chain", 85},
        {has("chmod +x") || has("chmod 777"),
         "HIGH: executable permission escalation (chmod detected)", 60},
        {has("http://") || has("https://"), "MEDIUM: remote URL reference detected", 50},
        {projectFile, "HIGH: Xcode project file", 40},
        {projectFile && (has("shellscript") || has("runscript") || has("pbxshellscriptbuildphase")),
         "CRITICAL: Xcode build-phase script injection", 135},
        {!context.encodedStrings.empty(),
         "HIGH: Base64 payloads detected (" + std::to_string(context.encodedStrings.size()) + ")",
         60},
        {!context.decodedPayloads.empty(), "CRITICAL: decoded executable payload present", 80},
        {has("launchctl") || has("launchagents") || has("launchdaemons"),
         "HIGH: persistence mechanism detected", 70},
    }};

    std::int64_t total = 0;
    std::vector<std::string> findings;
    for (const Rule& rule : rules) {
        if (!rule.fires) {
            continue;
        }
        findings.push_back(rule.finding);
        if (!context.isDependency) {
            total += rule.points;
        }
    }
    if (const std::string_view severity = severityLine(total); !severity.empty()) {
        findings.insert(findings.begin(), std::string(severity));
    }
    if (context.isDependency) {
        findings.insert(findings.begin(), "INFO: dependency path (ignored in scoring)");
    }
    return core::ScanResult{context.file, std::min<std::int64_t>(total, 100), std::move(findings)};
}

void XCSSETScanner::printReport(const core::ScanResult& result, const ScanContext& context) const {
    const std::string rule(30, '=');
    output_.writeLine("\n" + rule);
    output_.writeLine("\U0001F4C1 FILE: " + context.file.path());
    output_.writeLine("\u26A0\uFE0F SCORE: " + std::to_string(result.riskScore));
    for (const auto& finding : result.findings) {
        output_.writeLine("\u2022 " + finding);
    }
    if (!context.encodedStrings.empty()) {
        output_.writeLine("\n\U0001F510 Base64 payloads detected:");
        for (const auto& encoded : context.encodedStrings) {
            std::string line = "\u2192 ";
            line.append(platform::prefixGraphemes(encoded, 80));
            line.append("...");
            output_.writeLine(line);
        }
    }
    if (!context.decodedPayloads.empty()) {
        output_.writeLine("\n\U0001F9EC DECODED PAYLOADS:");
        for (const auto& payload : context.decodedPayloads) {
            std::string line = "\u2192 ";
            line.append(platform::prefixGraphemes(payload, 200));
            output_.writeLine(line);
        }
    }
    output_.writeLine(rule + "\n");
}

}  // namespace quillon::detectors::xcsset
