#include "cli/ScanCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <map>
#include <nlohmann/json.hpp>

#include "platform/LineWriter.h"
#include "platform/Log.h"

namespace quillon::cli {

namespace pipelines = core::pipelines;
using platform::FileURL;

core::pipelines::CycleRun runPipelines(PipelineChoice choice, const FileURL& folder,
                                       platform::LineWriter& output) {
    pipelines::CycleRun run;
    switch (choice) {
        case PipelineChoice::cycle:
            return pipelines::runScanCycle(folder, output);
        case PipelineChoice::classic:
            return pipelines::runClassicCycle(folder, output);
        case PipelineChoice::xcsset:
            run.pipelines.push_back(pipelines::runXCSSETPipeline(folder, output));
            break;
        case PipelineChoice::xcodespy:
            run.pipelines.push_back(pipelines::runXcodeSecurityPipeline(folder, output));
            break;
        case PipelineChoice::buildscripts:
            run.pipelines.push_back(pipelines::runBuildScriptsPipeline(folder, output));
            break;
    }
    run.clean = run.pipelines.back().clean;
    return run;
}

namespace {

nlohmann::ordered_json findingJson(const core::Finding& finding) {
    nlohmann::ordered_json item;
    item["ruleId"] = finding.ruleId;
    item["severity"] = std::string(core::severityName(finding.severity));
    item["title"] = finding.title;
    item["message"] = core::defang(finding.message);
    const auto& where = finding.location;
    item["location"] = {{"file", where.file},           {"line", where.line},
                        {"objectId", where.objectId},   {"target", where.target},
                        {"container", where.container}, {"containerKind", where.containerKind}};
    item["evidence"] = core::defang(finding.evidence);
    item["layers"] = nlohmann::ordered_json::array();
    for (const auto& layer : finding.layers) {
        item["layers"].push_back({{"method", layer.method}, {"text", core::defang(layer.text)}});
    }
    item["remediation"] = finding.remediation;
    item["fingerprint"] = finding.fingerprint;
    return item;
}

}  // namespace

std::string renderJson(const FileURL& folder, const core::pipelines::CycleRun& run) {
    nlohmann::ordered_json document;
    document["folder"] = folder.path();
    document["clean"] = run.clean;
    document["pipelines"] = nlohmann::ordered_json::array();
    for (const auto& pipeline : run.pipelines) {
        nlohmann::ordered_json entry;
        entry["name"] = pipeline.name;
        entry["clean"] = pipeline.clean;
        entry["results"] = nlohmann::ordered_json::array();
        for (const auto& result : pipeline.results) {
            nlohmann::ordered_json item;
            item["file"] = result.file.path();
            item["riskScore"] = result.riskScore;
            item["findings"] = result.findings;
            entry["results"].push_back(std::move(item));
        }
        if (pipeline.name == "buildscripts") {
            entry["findings"] = nlohmann::ordered_json::array();
            for (const auto& finding : pipeline.findings) {
                entry["findings"].push_back(findingJson(finding));
            }
            entry["diagnostics"] = nlohmann::ordered_json::array();
            for (const auto& diagnostic : pipeline.diagnostics) {
                entry["diagnostics"].push_back(
                    {{"file", diagnostic.file}, {"message", diagnostic.message}});
            }
        }
        document["pipelines"].push_back(std::move(entry));
    }
    // Texts are UTF-8 by construction; replace rather than throw if one ever is not.
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

int runScanCommand(int argc, char** argv) {
    CLI::App app{
        "Scans an Xcode project folder for build-time malware of the XCSSET and XcodeSpy kinds.\n"
        "Exit status: 0 clean, 1 threat found, 2 usage error or unusable folder.",
        "quillon-scan"};
    app.set_version_flag("--version", std::string("quillon-scan ") + QUILLON_VERSION);

    PipelineChoice choice = PipelineChoice::cycle;
    const std::map<std::string, PipelineChoice> choices = {
        {"cycle", PipelineChoice::cycle},
        {"classic", PipelineChoice::classic},
        {"xcsset", PipelineChoice::xcsset},
        {"xcodespy", PipelineChoice::xcodespy},
        {"buildscripts", PipelineChoice::buildscripts}};
    app.add_option("--pipeline", choice,
                   "cycle: what the monitor runs, the classic scans then the build-script "
                   "analysis; classic: the XCSSET scan, then the XcodeSpy scan when the first is "
                   "clean; xcsset, xcodespy or buildscripts: one alone")
        ->transform(CLI::CheckedTransformer(choices, CLI::ignore_case).description(""))
        ->default_str("cycle");

    std::string logLevel = "off";
    app.add_option("--log-level", logLevel,
                   "Log records at this level or above go to standard error")
        ->check(CLI::IsMember({"off", "error", "info", "debug"}))
        ->default_str("off");

    std::string format = "text";
    app.add_option("--format", format,
                   "text: the scan listing and reports; json: one JSON document")
        ->check(CLI::IsMember({"text", "json"}))
        ->default_str("text");

    std::string folderArgument;
    app.add_option("FOLDER", folderArgument, "The project folder to scan")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : 2;
    }

    struct stat info {};
    if (::stat(folderArgument.c_str(), &info) != 0) {
        platform::writeWholeLine(STDERR_FILENO,
                                 "quillon-scan: " + folderArgument + ": no such folder");
        return 2;
    }
    if (!S_ISDIR(info.st_mode)) {
        platform::writeWholeLine(STDERR_FILENO,
                                 "quillon-scan: " + folderArgument + ": not a folder");
        return 2;
    }

    if (logLevel != "off") {
        const platform::LogLevel minimum = logLevel == "debug"  ? platform::LogLevel::debug
                                           : logLevel == "info" ? platform::LogLevel::info
                                                                : platform::LogLevel::error;
        platform::setLogSink(std::make_shared<platform::StderrLogSink>(minimum));
    }

    const FileURL folder(folderArgument, true);
    const bool json = format == "json";
    // One thread writes here, and a CI log is read as a whole: lines go out in blocks.
    platform::BufferedLineWriter output(STDOUT_FILENO);
    const auto run = runPipelines(choice, folder, json ? platform::nullOutput() : output);
    if (json) {
        output.writeLine(renderJson(folder, run));
    }
    output.flush();
    // Files that could not be judged are no proof of cleanliness: say so where people look.
    for (const auto& pipeline : run.pipelines) {
        for (const auto& diagnostic : pipeline.diagnostics) {
            platform::writeWholeLine(STDERR_FILENO, "quillon-scan: " + folder.path() + "/" +
                                                        diagnostic.file + ": " +
                                                        diagnostic.message);
        }
    }
    return run.clean ? 0 : 1;
}

}  // namespace quillon::cli
