#include "detectors/xcodespy/XcodeSpyScanner.h"

#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "detectors/xcodespy/ShellScriptBlockMatcher.h"
#include "detectors/xcodespy/VariableSubstitution.h"
#include "platform/Regex.h"
#include "platform/TextFile.h"
#include "platform/Unicode.h"

namespace quillon::detectors::xcodespy {

using platform::FileURL;
using platform::Regex;

namespace {

constexpr std::string_view kAssignmentPattern =
    R"re(\b([a-zA-Z_][a-zA-Z0-9_]*)\s*=\s*['"]([^'"]*)['"])re";
constexpr std::string_view kEvalPrefixPattern = R"re(eval\s+["'])re";
constexpr std::string_view kQuotePattern = R"re(["'])re";
constexpr std::string_view kShortAssignmentPattern = R"([a-zA-Z]{1,4}\s*=\s*['"][^'"]{1,8}['"])";
constexpr std::string_view kExpansionPattern = R"(\$[a-zA-Z]{1,5})";

// Compiled once per process; a pattern that failed to compile stays empty.
struct Patterns {
    std::optional<Regex> assignment = Regex::compile(kAssignmentPattern);
    std::optional<Regex> evalPrefix = Regex::compile(kEvalPrefixPattern);
    std::optional<Regex> quote = Regex::compile(kQuotePattern);
    std::optional<Regex> shortAssignment = Regex::compile(kShortAssignmentPattern);
    std::optional<Regex> expansion = Regex::compile(kExpansionPattern);
};

const Patterns& patterns() {
    static const Patterns compiled;
    return compiled;
}

}  // namespace

XcodeSpyScanner::XcodeSpyScanner() : logger_("com.yourapp.security", "XcodeSpyScanner") {}

bool XcodeSpyScanner::canScan(const FileURL& file) const {
    return reads(file);
}

bool XcodeSpyScanner::reads(const FileURL& file) {
    const platform::LowercaseExtension extension(file);
    return extension.view() == "pbxproj" || extension.view() == "sh";
}

std::string XcodeSpyScanner::unescape(std::string_view blockText) {
    std::string script = platform::replaceAllLiteral(blockText, R"(\")", "\"");
    script = platform::replaceAllLiteral(script, R"(\\n)", "\n");
    return platform::replaceAllLiteral(script, R"(\\\")", "\"");
}

namespace {

// The blocks of a text, kept beyond it.
struct DigestedBlocks {
    std::vector<std::optional<std::string>> texts;
};

}  // namespace

platform::Digest XcodeSpyScanner::digest(std::string_view text) {
    auto blocks = std::make_shared<DigestedBlocks>();
    std::size_t bytes = sizeof(DigestedBlocks);
    findShellScriptBlocks(text, [&](const Regex::Match& match) {
        const auto group = match.group(text, 1);
        blocks->texts.emplace_back(group ? std::optional<std::string>(*group) : std::nullopt);
        bytes += sizeof(std::optional<std::string>) + (group ? group->size() : 0);
        return true;
    });
    return {std::move(blocks), bytes};
}

core::ScanResult XcodeSpyScanner::scan(const FileURL& file) const {
    logger_.info("Starting XcodeSpy scan for file: %s", file.path());
    if (const auto digested = platform::SharedReads::takeDigest<DigestedBlocks>(
            file.path(), digest, platform::kLargestTextFile)) {
        Blocks blocks;
        blocks.reserve(digested->texts.size());
        for (const auto& text : digested->texts) {
            blocks.push_back(text ? std::optional<std::string_view>(*text) : std::nullopt);
        }
        return judgeBlocks(file, blocks);
    }
    std::optional<std::string> text = platform::readTextFile(file.path());
    if (!text) {
        logger_.error("Failed to read file: %s", file.path());
        return core::ScanResult{file, 0, {}};
    }
    core::ScanResult result = scanText(file, *text);
    // Another scan of this cycle may read the file next.
    platform::SharedReads::giveBack(file.path(), std::move(*text));
    return result;
}

core::ScanResult XcodeSpyScanner::scanText(const FileURL& file, std::string_view text) const {
    Blocks blocks;
    findShellScriptBlocks(text, [&](const Regex::Match& match) {
        blocks.push_back(match.group(text, 1));
        return true;
    });
    return judgeBlocks(file, blocks);
}

core::ScanResult XcodeSpyScanner::judgeBlocks(const FileURL& file, const Blocks& blocks) const {
    const std::string name = file.lastPathComponent();
    logger_.info("Found %ld shellScript blocks in %s", blocks.size(), name);

    std::vector<std::string> findings;
    for (std::size_t index = 0; index < blocks.size(); ++index) {
        const auto& blockText = blocks[index];
        if (!blockText) {
            logger_.error("Failed to extract shellScript block at index %ld", index);
            continue;
        }
        std::string script = unescape(*blockText);
        logger_.info("----- Shell Script Block %ld -----", index + 1);
        logger_.debug("Original Script: %s", script);
        std::string reconstructed = deobfuscate(script);
        logger_.debug("Deobfuscated Script: %s", reconstructed);

        const std::int64_t scriptCount = countSuspiciousCommands(script);
        const std::int64_t reconstructedCount = countSuspiciousCommands(reconstructed);
        const bool obfuscated = isObfuscated(script);
        const bool malicious = isMalicious(script, reconstructed);
        logger_.info("Original indicator count: %ld", scriptCount);
        logger_.info("Reconstructed indicator count: %ld", reconstructedCount);
        logger_.info("Obfuscated: %{bool}d", obfuscated);
        logger_.info("Malicious: %{bool}d", malicious);

        if (malicious) {
            logger_.error("Potential XcodeSpy-style payload detected in %s", name);
            findings.emplace_back("Obfuscated build script detected");
            findings.emplace_back("Original Script:");
            findings.push_back(std::move(script));
            findings.emplace_back("Reconstructed Script:");
            findings.push_back(std::move(reconstructed));
        }
    }
    logger_.info("Completed XcodeSpy scan for %s. Findings: %ld", name, findings.size());
    const std::int64_t riskScore = findings.empty() ? 0 : 100;
    return core::ScanResult{file, riskScore, std::move(findings)};
}

std::string XcodeSpyScanner::deobfuscate(std::string_view script) const {
    const auto& assignmentPattern = patterns().assignment;
    if (!assignmentPattern) {
        logger_.error("Failed to compile variable regex");
        return std::string(script);
    }
    const std::vector<Regex::Match> assignments = assignmentPattern->findAll(script);
    logger_.info("Found %ld variable assignments", assignments.size());

    // Visited in the order of each name's first assignment, so reconstructions repeat exactly;
    // a later assignment replaces the value in place.
    std::vector<std::pair<std::string, std::string>> table;
    std::unordered_map<std::string, std::size_t> position;
    for (const auto& match : assignments) {
        const std::string name(match.group(script, 1).value_or(""));
        const std::string value(match.group(script, 2).value_or(""));
        logger_.debug("Variable %s = %s", name, value);
        const auto [found, inserted] = position.try_emplace(name, table.size());
        if (inserted) {
            table.emplace_back(name, value);
        } else {
            table[found->second].second = value;
        }
    }

    const std::size_t limit = reconstructionLimit(script.size());
    SubstitutionOutcome outcome =
        substituteVariables(script, table, limit, [&](std::int64_t pass, const auto& text) {
            if (logger_.enabled(platform::LogLevel::debug)) {
                logger_.debug("Reconstruction iteration %ld: %s", pass, text());
            }
        });
    if (outcome.limited) {
        logger_.error(
            "Reconstruction stopped in iteration %ld: substituting further would exceed %ld bytes",
            outcome.passes, limit);
    }
    std::string reconstructed = std::move(outcome.text);

    if (const auto& evalPrefix = patterns().evalPrefix) {
        reconstructed = evalPrefix->replaceAll(reconstructed, "");
    }
    if (const auto& quote = patterns().quote) {
        reconstructed = quote->replaceAll(reconstructed, "");
    }
    reconstructed = platform::replaceAllLiteral(reconstructed, R"(\n)", "\n");
    std::string result(platform::trimWhitespaceAndNewlines(reconstructed));
    logger_.debug("Final reconstructed script: %s", result);
    return result;
}

std::int64_t XcodeSpyScanner::countSuspiciousCommands(std::string_view text) const {
    const std::string folded = platform::foldCase(text);
    std::int64_t count = 0;
    for (std::string_view command : kSuspiciousCommands) {
        if (folded.find(command) != std::string::npos) {
            ++count;
        }
    }
    logger_.debug("Suspicious command count for script: %ld", count);
    return count;
}

bool XcodeSpyScanner::isObfuscated(std::string_view script) const {
    const auto countOf = [&](const std::optional<Regex>& pattern,
                             std::string_view patternText) -> std::int64_t {
        if (!pattern) {
            logger_.error("Failed to compile regex: %s", patternText);
            return 0;
        }
        return static_cast<std::int64_t>(pattern->countMatches(script));
    };
    const std::int64_t shortAssignments =
        countOf(patterns().shortAssignment, kShortAssignmentPattern);
    const std::int64_t expansions = countOf(patterns().expansion, kExpansionPattern);
    const bool hasEval = platform::foldCase(script).find("eval") != std::string::npos;
    logger_.info("Short variable count: %ld", shortAssignments);
    logger_.info("Variable expansion count: %ld", expansions);
    logger_.info("Has eval: %{bool}d", hasEval);
    return shortAssignments >= 8 && expansions >= 8 && hasEval;
}

bool XcodeSpyScanner::isMalicious(std::string_view script, std::string_view reconstructed) const {
    const std::int64_t scriptCount = countSuspiciousCommands(script);
    const std::int64_t reconstructedCount = countSuspiciousCommands(reconstructed);
    const std::string folded = platform::foldCase(reconstructed);
    std::string matched;
    bool anyMatched = false;
    for (std::string_view pattern : kMaliciousPatterns) {
        if (folded.find(pattern) == std::string::npos) {
            continue;
        }
        if (anyMatched) {
            matched.append(", ");
        }
        matched.append(pattern);
        anyMatched = true;
    }
    logger_.info("Matched suspicious patterns: %s", matched);
    const bool obfuscated = isObfuscated(script);
    return obfuscated && reconstructedCount >= scriptCount && anyMatched;
}

}  // namespace quillon::detectors::xcodespy
