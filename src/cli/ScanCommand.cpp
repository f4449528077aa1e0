#include "cli/ScanCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "platform/LineWriter.h"
#include "platform/Log.h"
#include "platform/TextFile.h"
#include "report/ClassicFindings.h"
#include "report/SarifReport.h"

namespace quillon::cli {

namespace pipelines = scan;
using platform::FileURL;

namespace {

// A pipeline's verdict once accepted findings are left out: a finding that makes a verdict is
// high or critical, whichever analysis made it.
void applyBaseline(pipelines::PipelineRun& run, const report::Baseline& baseline,
                   const std::string& folder) {
    if (run.classic) {
        // Made once here; the printers take them from the run.
        run.findings = report::classicFindings(run, folder);
    }
    if (run.clean) {
        return;
    }
    run.clean = true;
    for (const auto& finding : run.findings) {
        if (core::isThreat(finding) && !baseline.accepts(finding)) {
            run.clean = false;
        }
    }
}

}  // namespace

const PipelineChoice PipelineChoice::cycle{PipelineChoice::Kind::cycle, nullptr};
const PipelineChoice PipelineChoice::classic{PipelineChoice::Kind::classic, nullptr};

pipelines::CycleRun runPipelines(PipelineChoice choice, const FileURL& folder,
                                 platform::LineWriter& output, const report::Baseline* baseline) {
    if (baseline == nullptr) {
        switch (choice.kind) {
            case PipelineChoice::Kind::cycle:
                return pipelines::runScanCycle(folder, output);
            case PipelineChoice::Kind::classic:
                return pipelines::runClassicCycle(folder, output);
            case PipelineChoice::Kind::one:
                break;
        }
    }
    pipelines::CycleRun run;
    std::unique_ptr<core::SharedWalk> shared;
    if (choice.kind != PipelineChoice::Kind::one) {
        shared = pipelines::shareCycle(folder, choice.kind == PipelineChoice::Kind::classic
                                                   ? pipelines::Taking::classic
                                                   : pipelines::Taking::all);
    }
    for (const pipelines::Analysis& analysis : pipelines::analyses()) {
        if (choice.kind == PipelineChoice::Kind::one
                ? &analysis != choice.analysis
                : (choice.kind == PipelineChoice::Kind::classic && !analysis.classic) ||
                      (analysis.onlyAfterClean && !run.clean)) {
            continue;
        }
        pipelines::PipelineRun pipeline = analysis.run(folder, output);
        if (baseline != nullptr) {
            applyBaseline(pipeline, *baseline, folder.path());
        }
        run.clean = run.clean && pipeline.clean;
        run.pipelines.push_back(std::move(pipeline));
    }
    return run;
}

namespace {

using json = nlohmann::ordered_json;

json findingJson(const core::Finding& finding, const report::BaselineEntry* suppression) {
    json item;
    item["ruleId"] = finding.ruleId;
    item["severity"] = std::string(core::severityName(finding.severity));
    item["title"] = finding.title;
    item["message"] = core::defang(finding.message);
    const auto& where = finding.location;
    item["location"] = {{"file", where.file},           {"line", where.line},
                        {"objectId", where.objectId},   {"target", where.target},
                        {"container", where.container}, {"containerKind", where.containerKind}};
    item["evidence"] = core::defang(finding.evidence);
    item["layers"] = json::array();
    for (const auto& layer : finding.layers) {
        item["layers"].push_back({{"method", layer.method}, {"text", core::defang(layer.text)}});
    }
    item["remediation"] = finding.remediation;
    item["fingerprint"] = finding.fingerprint;
    item["suppressed"] = suppression != nullptr;
    return item;
}

json folderJson(const report::FolderReport& folder) {
    json document;
    document["folder"] = folder.folder;
    document["clean"] = folder.run.clean;
    document["pipelines"] = json::array();
    for (const auto& pipeline : folder.run.pipelines) {
        json entry;
        entry["name"] = pipeline.name;
        entry["clean"] = pipeline.clean;
        entry["results"] = json::array();
        for (const auto& result : pipeline.results) {
            json item;
            item["file"] = result.file.path();
            item["riskScore"] = result.riskScore;
            item["findings"] = result.findings;
            // A result whose every rule finding was accepted says so; others stay as they were.
            const std::string file = report::relativePath(result.file.path(), folder.folder);
            bool any = false;
            bool all = true;
            for (std::size_t i = 0; i < folder.findings.size(); ++i) {
                if (folder.findings[i].location.file == file &&
                    folder.findings[i].ruleId.starts_with(pipeline.name + "-")) {
                    any = true;
                    all = all && folder.suppressions[i] != nullptr;
                }
            }
            if (any && all) {
                item["suppressed"] = true;
            }
            entry["results"].push_back(std::move(item));
        }
        if (!pipeline.classic) {
            entry["findings"] = json::array();
            for (std::size_t i = 0; i < folder.findings.size(); ++i) {
                const auto& finding = folder.findings[i];
                if (std::none_of(pipeline.findings.begin(), pipeline.findings.end(),
                                 [&](const core::Finding& f) {
                                     return f.fingerprint == finding.fingerprint;
                                 })) {
                    continue;
                }
                entry["findings"].push_back(findingJson(finding, folder.suppressions[i]));
            }
            entry["diagnostics"] = json::array();
            for (const auto& diagnostic : pipeline.diagnostics) {
                entry["diagnostics"].push_back(
                    {{"file", diagnostic.file}, {"message", diagnostic.message}});
            }
        }
        document["pipelines"].push_back(std::move(entry));
    }
    // The classic document stays as it was unless there is something to say.
    const bool scripts = std::any_of(folder.run.pipelines.begin(), folder.run.pipelines.end(),
                                     [](const auto& p) { return !p.classic; });
    if (!scripts && folder.diagnostics.empty()) {
        return document;
    }
    document["diagnostics"] = json::array();
    for (const auto& diagnostic : folder.diagnostics) {
        document["diagnostics"].push_back(
            {{"file", diagnostic.file}, {"message", diagnostic.message}});
    }
    return document;
}

}  // namespace

std::string renderJson(const std::vector<report::FolderReport>& folders) {
    json document;
    if (folders.size() == 1) {
        document = folderJson(folders[0]);
    } else {
        bool clean = true;
        document["clean"] = true;
        document["folders"] = json::array();
        for (const auto& folder : folders) {
            clean = clean && folder.run.clean;
            document["folders"].push_back(folderJson(folder));
        }
        document["clean"] = clean;
    }
    // Texts are UTF-8 by construction; replace rather than throw if one ever is not.
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

int runScanCommand(int argc, char** argv) {
    CLI::App app{
        "Scans Xcode project folders for build-time malware of the XCSSET and XcodeSpy kinds.\n"
        "Exit status: 0 clean, 1 threat found, 2 usage error, unusable folder, or (with\n"
        "--fail-on-scan-errors) a file that could not be read.",
        "quillon-scan"};
    app.set_version_flag("--version", std::string("quillon-scan ") + QUILLON_VERSION);

    std::map<std::string, PipelineChoice> choices = {{"cycle", PipelineChoice::cycle},
                                                     {"classic", PipelineChoice::classic}};
    std::string alone;
    for (const pipelines::Analysis& analysis : pipelines::analyses()) {
        choices.emplace(std::string(analysis.name),
                        PipelineChoice{PipelineChoice::Kind::one, &analysis});
        alone += (alone.empty() ? "" : ", ") + std::string(analysis.name);
    }
    std::map<std::string, std::string> names;
    for (const auto& entry : choices) {
        names.emplace(entry.first, entry.first);
    }
    std::string pipelineName = "cycle";
    app.add_option("--pipeline", pipelineName,
                   "cycle: what the monitor runs, the classic scans then the build-script "
                   "analysis; classic: the XCSSET scan, then the XcodeSpy scan when the first is "
                   "clean; " +
                       alone + ": one alone")
        ->transform(CLI::CheckedTransformer(names, CLI::ignore_case).description(""))
        ->default_str("cycle");

    std::string logLevel = "off";
    app.add_option("--log-level", logLevel,
                   "Log records at this level or above go to standard error")
        ->check(CLI::IsMember({"off", "error", "info", "debug"}))
        ->default_str("off");

    std::string format = "text";
    app.add_option("--format", format,
                   "text: the scan listing and reports; json: one JSON document; sarif: one "
                   "SARIF 2.1.0 log")
        ->check(CLI::IsMember({"text", "json", "sarif"}))
        ->default_str("text");

    std::string baselinePath;
    app.add_option("--baseline", baselinePath,
                   "Accept the findings whose fingerprints FILE lists: they stay visible, "
                   "marked suppressed, and no longer count for the verdict")
        ->option_text("FILE");
    std::string writeBaselinePath;
    app.add_option("--write-baseline", writeBaselinePath,
                   "Write the fingerprints of the current findings to FILE (the classic scans' "
                   "only where they decide a verdict), for review and --baseline")
        ->option_text("FILE");
    bool failOnScanErrors = false;
    app.add_flag("--fail-on-scan-errors", failOnScanErrors,
                 "Exit with status 2 when a file could not be read or judged whole");

    std::vector<std::string> folderArguments;
    app.add_option("FOLDER", folderArguments, "The project folders to scan, one after the other")
        ->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : 2;
    }
    const PipelineChoice choice = choices.at(pipelineName);

    for (const auto& folderArgument : folderArguments) {
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
    }
    std::optional<report::Baseline> baseline;
    if (!baselinePath.empty()) {
        std::string error;
        baseline = report::readBaseline(baselinePath, error);
        if (!baseline) {
            platform::writeWholeLine(STDERR_FILENO, "quillon-scan: " + baselinePath + ": " + error);
            return 2;
        }
    }

    if (logLevel != "off") {
        const platform::LogLevel minimum = logLevel == "debug"  ? platform::LogLevel::debug
                                           : logLevel == "info" ? platform::LogLevel::info
                                                                : platform::LogLevel::error;
        platform::setLogSink(std::make_shared<platform::StderrLogSink>(minimum));
    }

    const bool text = format == "text";
    const bool several = folderArguments.size() > 1;
    // One thread writes here, and a CI log is read as a whole: lines go out in blocks.
    platform::BufferedLineWriter output(STDOUT_FILENO);
    std::vector<report::FolderReport> reports;
    bool clean = true;
    bool scanErrors = false;
    for (const auto& folderArgument : folderArguments) {
        const FileURL folder(folderArgument, true);
        if (text && several) {
            output.writeLine("=== " + folder.path());
        }
        report::FolderReport report;
        report.folder = folder.path();
        {
            // Every file a scan found but could not read, whichever scan it was.
            platform::ReadFailureLog failures;
            report.run = runPipelines(choice, folder, text ? output : platform::nullOutput(),
                                      baseline ? &*baseline : nullptr);
            report::collectFindings(report, baseline ? &*baseline : nullptr,
                                    !text || baseline || !writeBaselinePath.empty());
            for (const auto& failure : failures.failures()) {
                const std::string file = report::relativePath(failure.path, folder.path());
                const bool known =
                    std::any_of(report.diagnostics.begin(), report.diagnostics.end(),
                                [&](const core::ScanDiagnostic& d) { return d.file == file; });
                if (!known) {
                    report.diagnostics.push_back({file, failure.reason});
                }
            }
        }
        report.clean = report.run.clean;
        clean = clean && report.clean;
        output.flush();
        // Files that could not be judged are no proof of cleanliness: say so where people look.
        for (const auto& diagnostic : report.diagnostics) {
            scanErrors = true;
            platform::writeWholeLine(STDERR_FILENO, "quillon-scan: " + folder.path() + "/" +
                                                        diagnostic.file + ": " +
                                                        diagnostic.message);
        }
        reports.push_back(std::move(report));
    }
    if (format == "json") {
        output.writeLine(renderJson(reports));
    } else if (format == "sarif") {
        output.writeLine(report::renderSarif(reports, QUILLON_VERSION));
    }
    output.flush();
    if (!writeBaselinePath.empty()) {
        std::vector<core::Finding> accepted;
        for (const auto& report : reports) {
            for (const auto& finding : report.findings) {
                // The classic scans' low findings are score contributions that decide nothing.
                const bool classic =
                    finding.ruleId.starts_with("xcsset") || finding.ruleId.starts_with("xcodespy");
                if (!classic || finding.severity >= core::Severity::medium) {
                    accepted.push_back(finding);
                }
            }
        }
        std::ofstream file(writeBaselinePath, std::ios::binary | std::ios::trunc);
        file << report::renderBaseline(accepted);
        if (!file) {
            platform::writeWholeLine(STDERR_FILENO,
                                     "quillon-scan: " + writeBaselinePath + ": cannot be written");
            return 2;
        }
    }
    if (failOnScanErrors && scanErrors) {
        return 2;
    }
    return clean ? 0 : 1;
}

}  // namespace quillon::cli
