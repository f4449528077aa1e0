#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/ScanCommand.h"
#include "support/Process.h"
#include "support/TempTree.h"

namespace quillon::cli {
namespace {

using testing::runProcess;

const std::string kScanner = QUILLON_SCAN_EXE;
const std::string kSamples = QUILLON_SAMPLES_DIR;

testing::ProcessResult scan(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), kScanner);
    return runProcess(arguments);
}

TEST(QuillonScan, SampleVerdicts) {
    const std::pair<const char*, int> cases[] = {
        {"CleanApp", 0}, {"ChmodDropper", 1}, {"ObfuscatedPhase", 1}};
    for (const auto& [sample, status] : cases) {
        SCOPED_TRACE(sample);
        const auto result = scan({kSamples + "/" + sample});
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(result.err, "");
    }
}

TEST(QuillonScan, TextOutputIsExactlyThePipelineListing) {
    for (const char* sample : {"CleanApp", "ChmodDropper", "ObfuscatedPhase"}) {
        SCOPED_TRACE(sample);
        const platform::FileURL folder(kSamples + "/" + sample, true);
        platform::MemoryLineWriter expected;
        runPipelines(PipelineChoice::cycle, folder, expected);
        std::string text;
        for (const auto& line : expected.lines()) {
            text += line + "\n";
        }
        EXPECT_EQ(scan({folder.path()}).out, text);
    }
}

TEST(QuillonScan, PipelineChoice) {
    const std::string sample = kSamples + "/ObfuscatedPhase";
    EXPECT_EQ(scan({"--pipeline", "xcsset", sample}).status, 0);
    EXPECT_EQ(scan({"--pipeline", "xcodespy", sample}).status, 1);
    EXPECT_EQ(scan({"--pipeline", "cycle", sample}).status, 1);
    EXPECT_EQ(scan({"--pipeline", "xcodespy", kSamples + "/ChmodDropper"}).status, 0);
}

TEST(QuillonScan, JsonDocument) {
    const auto result = scan({"--format", "json", kSamples + "/ObfuscatedPhase"});
    EXPECT_EQ(result.status, 1);
    const auto document = nlohmann::json::parse(result.out);
    EXPECT_EQ(document["folder"], kSamples + "/ObfuscatedPhase");
    EXPECT_EQ(document["clean"], false);
    ASSERT_EQ(document["pipelines"].size(), 2u);
    EXPECT_EQ(document["pipelines"][0]["name"], "xcsset");
    EXPECT_EQ(document["pipelines"][0]["clean"], true);
    EXPECT_EQ(document["pipelines"][1]["name"], "xcodespy");
    EXPECT_EQ(document["pipelines"][1]["clean"], false);
    const auto& spy = document["pipelines"][1]["results"][0];
    EXPECT_EQ(spy["riskScore"], 100);
    EXPECT_EQ(spy["findings"][0], "Obfuscated build script detected");
    EXPECT_EQ(spy["file"], kSamples + "/ObfuscatedPhase/ObfuscatedPhase.xcodeproj/project.pbxproj");

    testing::TempTree empty;
    const auto clean = scan({"--format", "json", empty.root().string()});
    EXPECT_EQ(clean.status, 0);
    EXPECT_EQ(nlohmann::json::parse(clean.out),
              nlohmann::json::parse(R"({"folder": ")" + empty.root().string() +
                                    R"(", "clean": true, "pipelines": [)"
                                    R"({"name": "xcsset", "clean": true, "results": []},)"
                                    R"({"name": "xcodespy", "clean": true, "results": []}]})"));
    EXPECT_NE(clean.out.find("\"results\": []"), std::string::npos);
}

TEST(QuillonScan, LogRecordsGoToStandardError) {
    const std::string sample = kSamples + "/CleanApp";
    const auto info = scan({"--log-level", "info", sample});
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.err.find("info com.quillon BackgroundScan Starting scanXCSSETFinal file://" +
                            sample + "/\n"),
              std::string::npos);
    EXPECT_NE(info.err.find("info com.yourapp.security XcodeSpyScanner Has eval: false\n"),
              std::string::npos);
    EXPECT_EQ(info.err.find("debug "), std::string::npos);
    EXPECT_NE(scan({"--log-level", "debug", sample}).err.find("debug com.yourapp.security"),
              std::string::npos);
    EXPECT_EQ(scan({"--log-level", "error", sample}).err, "");
}

TEST(QuillonScan, UsageErrorsAndUnusableFolders) {
    testing::TempTree tree;
    tree.write("file.sh", "");
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        const char* message;
    } cases[] = {
        {"missingFolder", {tree.path("missing")}, "no such folder"},
        {"fileNotFolder", {tree.path("file.sh")}, "not a folder"},
        {"noFolder", {}, "FOLDER is required"},
        {"unknownPipeline", {"--pipeline", "all", tree.root().string()}, "--pipeline"},
        {"unknownFormat", {"--format", "xml", tree.root().string()}, "--format"},
        {"unknownOption", {"--fast", tree.root().string()}, "--fast"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = scan(c.arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
}

TEST(QuillonScan, HelpAndVersion) {
    const auto help = scan({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--pipeline"), std::string::npos);
    EXPECT_NE(help.out.find("FOLDER"), std::string::npos);
    const auto version = scan({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("quillon-scan ", 0), 0u);
}

}  // namespace
}  // namespace quillon::cli
