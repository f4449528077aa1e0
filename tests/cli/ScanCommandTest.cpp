#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

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
    // The classic scans miss the build-time injections of the newer samples; the cycle does not.
    const struct {
        const char* sample;
        int cycle;
        int classic;
    } cases[] = {
        {"CleanApp", 0, 0},          {"ChmodDropper", 1, 1},   {"ObfuscatedPhase", 1, 1},
        {"NestedDecodePhase", 1, 0}, {"SettingPayload", 1, 0}, {"BuildRulePayload", 1, 0},
        {"BenignPhases", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sample);
        const auto result = scan({kSamples + "/" + c.sample});
        EXPECT_EQ(result.status, c.cycle);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(scan({"--pipeline", "classic", kSamples + "/" + c.sample}).status, c.classic);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Compares with testdata/NAME, or rewrites it when QUILLON_UPDATE_GOLDEN is set.
void expectGolden(const std::string& name, const std::string& actual) {
    const std::string path = std::string(QUILLON_GOLDEN_DIR) + "/" + name;
    if (std::getenv("QUILLON_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(path, std::ios::binary) << actual;
        return;
    }
    EXPECT_EQ(actual, readFile(path))
        << "golden file " << path << " (QUILLON_UPDATE_GOLDEN=1 rewrites it)";
}

std::string withoutSamplesPath(std::string text) {
    for (std::size_t at; (at = text.find(kSamples)) != std::string::npos;) {
        text.replace(at, kSamples.size(), "SAMPLES");
    }
    return text;
}

TEST(QuillonScan, BuildScriptGoldenOutputs) {
    for (const char* sample : {"NestedDecodePhase", "SettingPayload", "BuildRulePayload",
                               "BenignPhases", "ChmodDropper", "ObfuscatedPhase", "CleanApp"}) {
        SCOPED_TRACE(sample);
        const std::string folder = kSamples + "/" + sample;
        expectGolden(std::string(sample) + ".buildscripts.txt",
                     scan({"--pipeline", "buildscripts", folder}).out);
        expectGolden(std::string(sample) + ".buildscripts.json",
                     withoutSamplesPath(
                         scan({"--pipeline", "buildscripts", "--format", "json", folder}).out));
    }
}

std::string withoutFolderUris(std::string text) {
    const std::string uri = "file://" + kSamples;
    for (std::size_t at; (at = text.find(uri)) != std::string::npos;) {
        text.replace(at, uri.size(), "file://SAMPLES");
    }
    const std::string version = std::string("\"") + QUILLON_VERSION_TEXT + "\"";
    for (std::size_t at; (at = text.find(version)) != std::string::npos;) {
        text.replace(at, version.size(), "\"VERSION\"");
    }
    return text;
}

TEST(QuillonScan, SarifGoldenOutputs) {
    for (const char* sample : {"NestedDecodePhase", "ChmodDropper", "CleanApp"}) {
        SCOPED_TRACE(sample);
        const auto result = scan({"--format", "sarif", kSamples + "/" + sample});
        EXPECT_EQ(result.err, "");
        const auto log = nlohmann::json::parse(result.out);  // nothing else on standard output
        EXPECT_EQ(log["version"], "2.1.0");
        ASSERT_EQ(log["runs"].size(), 1u);
        for (const auto& item : log["runs"][0]["results"]) {
            EXPECT_TRUE(item["suppressions"].is_array());
            EXPECT_FALSE(item["partialFingerprints"].empty());
        }
        expectGolden(std::string(sample) + ".sarif", withoutFolderUris(result.out));
    }
}

// A copy of a sample that a test may change.
std::string copySample(const testing::TempTree& tree, const std::string& sample) {
    const std::string target = tree.path(sample);
    std::filesystem::copy(kSamples + "/" + sample, target,
                          std::filesystem::copy_options::recursive);
    return target;
}

TEST(QuillonScan, BaselineRoundTrip) {
    for (const char* sample : {"NestedDecodePhase", "ChmodDropper"}) {
        SCOPED_TRACE(sample);
        testing::TempTree tree;
        const std::string folder = copySample(tree, sample);
        const std::string baseline = tree.path("baseline.json");
        EXPECT_EQ(scan({"--write-baseline", baseline, folder}).status, 1);
        const auto written = nlohmann::json::parse(readFile(baseline));
        ASSERT_FALSE(written["findings"].empty());
        for (const auto& entry : written["findings"]) {
            EXPECT_TRUE(entry.contains("fingerprint") && entry.contains("ruleId") &&
                        entry.contains("file") && entry.contains("reason"));
        }
        // Nothing new: clean, and the accepted findings still show, marked.
        const auto accepted = scan({"--baseline", baseline, "--format", "json", folder});
        EXPECT_EQ(accepted.status, 0) << accepted.out;
        const auto document = nlohmann::json::parse(accepted.out);
        EXPECT_TRUE(document["clean"].get<bool>());
        const auto& scripts = document["pipelines"].back();
        ASSERT_EQ(scripts["name"], "buildscripts");
        for (const auto& finding : scripts["findings"]) {
            EXPECT_TRUE(finding["suppressed"].get<bool>());
        }
        const auto sarif =
            nlohmann::json::parse(scan({"--baseline", baseline, "--format", "sarif", folder}).out);
        bool external = false;
        for (const auto& item : sarif["runs"][0]["results"]) {
            for (const auto& suppression : item["suppressions"]) {
                external = external || suppression["kind"] == "external";
            }
        }
        EXPECT_TRUE(external);
        // An edited payload is new again.
        const std::string edited = std::string(sample) == "ChmodDropper"
                                       ? folder + "/Scripts/prepare-tools.sh"
                                       : folder + "/" + sample + ".xcodeproj/project.pbxproj";
        std::string text = readFile(edited);
        const std::string from =
            std::string(sample) == "ChmodDropper" ? "chmod +x \"${TMPDIR}/.helper\"" : "| sh";
        const std::size_t at = text.rfind(from);
        ASSERT_NE(at, std::string::npos);
        text.replace(
            at, from.size(),
            std::string(sample) == "ChmodDropper" ? "chmod +x \"${TMPDIR}/.helper2\"" : "| bash");
        std::ofstream(edited, std::ios::binary) << text;
        EXPECT_EQ(scan({"--baseline", baseline, folder}).status, 1);
    }
}

TEST(QuillonScan, ScanErrorsAreReportedAndCanFailTheRun) {
    testing::TempTree tree;
    tree.write("App.xcodeproj/project.pbxproj",
               readFile(kSamples + "/CleanApp/CleanApp.xcodeproj/project.pbxproj"));
    ASSERT_EQ(::mkfifo(tree.path("tool.sh").c_str(), 0600), 0);
    const auto plain = scan({tree.root().string()});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.err,
              "quillon-scan: " + tree.path("tool.sh") + ": a FIFO, not a regular file\n");
    EXPECT_EQ(scan({"--fail-on-scan-errors", tree.root().string()}).status, 2);
    const auto json = nlohmann::json::parse(scan({"--format", "json", tree.root().string()}).out);
    EXPECT_EQ(json["pipelines"].back()["diagnostics"][0]["file"], "tool.sh");
    const auto sarif = nlohmann::json::parse(scan({"--format", "sarif", tree.root().string()}).out);
    EXPECT_EQ(sarif["runs"][0]["invocations"][0]["toolExecutionNotifications"].size(), 1u);
}

TEST(QuillonScan, EveryScanReportsTheFilesItCouldNotRead) {
    testing::TempTree tree;
    ASSERT_EQ(::mkfifo(tree.path("tool.sh").c_str(), 0600), 0);
    tree.symlink("/dev/zero", "Shared.xcconfig");
    tree.write("Assets.xcassets/Contents.json", "{}");
    std::string utf16 = "\xFF\xFE";
    for (const char c : std::string("echo hi\n")) {
        utf16 += c;
        utf16 += '\0';
    }
    tree.write("build.sh", utf16 + std::string("\x00\xD8", 2));
    for (const char* pipeline : {"xcsset", "cycle"}) {
        SCOPED_TRACE(pipeline);
        const auto result =
            scan({"--pipeline", pipeline, "--format", "json", tree.root().string()});
        const auto document = nlohmann::json::parse(result.out);
        std::map<std::string, std::string> diagnostics;
        for (const auto& item : document["diagnostics"]) {
            diagnostics[item["file"]] = item["message"];
        }
        EXPECT_EQ(diagnostics["tool.sh"], "a FIFO, not a regular file");
        EXPECT_EQ(diagnostics["Shared.xcconfig"], "a device, not a regular file");
        EXPECT_FALSE(diagnostics.contains("Assets.xcassets"));
        if (std::string(pipeline) == "cycle") {
            EXPECT_NE(diagnostics["build.sh"].find("malformed UTF-16"), std::string::npos);
        }
    }
}

TEST(QuillonScan, UnreadableProjectFileIsNotClean) {
    testing::TempTree tree;
    tree.write("App.xcodeproj/project.pbxproj", "// !$*UTF8*$!\n{ objects = { }; }\n");
    ASSERT_EQ(::chmod(tree.path("App.xcodeproj/project.pbxproj").c_str(), 0), 0);
    std::vector<std::string> command = {kScanner, "--fail-on-scan-errors", tree.root().string()};
    if (::geteuid() == 0) {
        // Root reads anything: scan as nobody, as a CI job of another user would.
        ASSERT_EQ(::chmod(tree.root().c_str(), 0755), 0);
        ASSERT_EQ(::chmod(tree.path("App.xcodeproj").c_str(), 0755), 0);
        command.insert(command.begin(),
                       {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    const auto result = runProcess(command);
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_EQ(result.err, "quillon-scan: " + tree.path("App.xcodeproj/project.pbxproj") +
                              ": permission denied\n");
}

TEST(QuillonScan, SeveralFolders) {
    const std::string clean = kSamples + "/CleanApp";
    const std::string infected = kSamples + "/SettingPayload";
    const auto text = scan({clean, infected});
    EXPECT_EQ(text.status, 1);
    EXPECT_EQ(text.out.rfind("=== " + clean + "\n", 0), 0u);
    EXPECT_NE(text.out.find("\n=== " + infected + "\n"), std::string::npos);
    EXPECT_EQ(scan({clean, kSamples + "/BenignPhases"}).status, 0);
    const auto json = nlohmann::json::parse(scan({"--format", "json", clean, infected}).out);
    EXPECT_FALSE(json["clean"].get<bool>());
    ASSERT_EQ(json["folders"].size(), 2u);
    EXPECT_EQ(json["folders"][1]["folder"], infected);
    const auto sarif = nlohmann::json::parse(scan({"--format", "sarif", clean, infected}).out);
    EXPECT_EQ(sarif["runs"].size(), 1u);
    EXPECT_TRUE(sarif["runs"][0]["originalUriBaseIds"].contains("SRCROOT2"));
}

TEST(QuillonScan, CycleTextIsTheClassicListingThenTheFindingBlocks) {
    for (const char* sample : {"NestedDecodePhase", "ChmodDropper", "BenignPhases"}) {
        SCOPED_TRACE(sample);
        const std::string folder = kSamples + "/" + sample;
        const std::string classic = scan({"--pipeline", "classic", folder}).out;
        const std::string blocks = scan({"--pipeline", "buildscripts", folder}).out;
        EXPECT_EQ(scan({folder}).out, classic + blocks);
    }
}

TEST(QuillonScan, TextOutputIsExactlyThePipelineListing) {
    for (const char* sample : {"CleanApp", "ChmodDropper", "ObfuscatedPhase"}) {
        for (const auto& [option, choice] : {std::pair{"cycle", PipelineChoice::cycle},
                                             std::pair{"classic", PipelineChoice::classic}}) {
            SCOPED_TRACE(std::string(sample) + " " + option);
            const platform::FileURL folder(kSamples + "/" + sample, true);
            platform::MemoryLineWriter expected;
            runPipelines(choice, folder, expected);
            std::string text;
            for (const auto& line : expected.lines()) {
                text += line + "\n";
            }
            EXPECT_EQ(scan({"--pipeline", option, folder.path()}).out, text);
        }
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
    const auto result =
        scan({"--pipeline", "classic", "--format", "json", kSamples + "/ObfuscatedPhase"});
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
    const auto clean = scan({"--pipeline", "classic", "--format", "json", empty.root().string()});
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

TEST(QuillonScan, HelpManPageAndReadmeAgree) {
    const std::string help = scan({"--help"}).out;
    std::string manual = readFile(std::string(QUILLON_SOURCE_DIR) + "/man/quillon-scan.1");
    manual.erase(std::remove(manual.begin(), manual.end(), '\\'), manual.end());  // \- is -
    const std::string readme = readFile(std::string(QUILLON_SOURCE_DIR) + "/README.md");
    std::vector<std::string> words = {"cycle",        "classic", "xcsset", "xcodespy",
                                      "buildscripts", "text",    "json",   "sarif"};
    for (std::size_t at = help.find("--"); at != std::string::npos; at = help.find("--", at + 2)) {
        std::size_t end = at + 2;
        while (end < help.size() &&
               (std::isalnum(static_cast<unsigned char>(help[end])) || help[end] == '-')) {
            ++end;
        }
        if (end > at + 2) {
            words.push_back(help.substr(at, end - at));
        }
    }
    ASSERT_GT(words.size(), 12u);
    for (const auto& word : words) {
        EXPECT_NE(help.find(word), std::string::npos) << word << " in --help";
        EXPECT_NE(manual.find(word), std::string::npos) << word << " in the man page";
        EXPECT_NE(readme.find(word), std::string::npos) << word << " in the README";
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
