// Per-stage costs: discovery (entries/s), each detector on a 5 MB project file (MB/s), and
// writing reports. Run: build/bench/bench/quillon_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "core/FileDiscovery.h"
#include "detectors/buildscripts/BuildScriptScanner.h"
#include "detectors/xcodespy/ShellScriptBlockMatcher.h"
#include "detectors/xcodespy/XcodeSpyScanner.h"
#include "detectors/xcsset/PayloadMatchers.h"
#include "detectors/xcsset/XCSSETScanner.h"
#include "formats/pbxproj/ProjectModel.h"
#include "platform/LineWriter.h"
#include "platform/TextFile.h"
#include "platform/Unicode.h"

namespace {

using namespace quillon;
namespace fs = std::filesystem;

fs::path scratch() {
    static const fs::path root = [] {
        fs::path path = fs::temp_directory_path() / ("quillon-bench-" + std::to_string(::getpid()));
        fs::create_directories(path);
        std::atexit([] {
            fs::remove_all(fs::temp_directory_path() /
                           ("quillon-bench-" + std::to_string(::getpid())));
        });
        return path;
    }();
    return root;
}

// A project file of about `size` bytes with ordinary build phases, like a large app's.
std::string projectFile(std::size_t size) {
    std::mt19937 random(7);
    const auto id = [&] {
        static const char hex[] = "0123456789ABCDEF";
        std::string out(24, '0');
        for (char& c : out)
            c = hex[random() % 16];
        return out;
    };
    std::string text = "// !$*UTF8*$!\n{\n\tobjects = {\n";
    while (text.size() < size) {
        const std::string ref = id();
        text += "\t\t" + id() + " /* View" + std::to_string(text.size() % 9973) +
                ".swift in Sources */ = {isa = PBXBuildFile; fileRef = " + ref +
                " /* View.swift */; };\n";
        if (text.size() % 97 == 0) {
            text += "\t\t" + id() +
                    " = {isa = PBXShellScriptBuildPhase; shellScript = \"if which swiftlint > "
                    "/dev/null; then\\n  swiftlint\\nelse\\n  echo \\\"warning: SwiftLint not "
                    "installed\\\"\\nfi\\n\"; };\n";
        }
    }
    return text + "\t};\n}\n";
}

const fs::path& projectOnDisk() {
    static const fs::path path = [] {
        const fs::path file = scratch() / "Big.xcodeproj" / "project.pbxproj";
        fs::create_directories(file.parent_path());
        std::ofstream(file) << projectFile(5 << 20);
        return file;
    }();
    return path;
}

void discovery(benchmark::State& state) {
    const fs::path root = scratch() / "tree";
    std::size_t entries = 0;
    if (!fs::exists(root)) {
        for (int d = 0; d < 100; ++d) {
            for (int f = 0; f < 100; ++f) {
                const fs::path file = root / ("Module" + std::to_string(d)) /
                                      ("File" + std::to_string(f) + (f % 10 ? ".swift" : ".txt"));
                fs::create_directories(file.parent_path());
                std::ofstream(file) << "x";
            }
        }
    }
    entries = 100 * 100 + 100;
    const platform::FileURL url(root.string(), true);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            core::FileDiscovery().discoverFiles(url, core::xcssetDiscoveryConfiguration()));
    }
    state.counters["entries/s"] = benchmark::Counter(static_cast<double>(entries),
                                                     benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(discovery)->Unit(benchmark::kMillisecond);

void xcssetScan(benchmark::State& state) {
    const detectors::xcsset::XCSSETScanner scanner(platform::nullOutput());
    const platform::FileURL file(projectOnDisk().string(), false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(scanner.scan(file));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fs::file_size(projectOnDisk())));
}
BENCHMARK(xcssetScan)->Unit(benchmark::kMillisecond);

void xcodeSpyScan(benchmark::State& state) {
    const detectors::xcodespy::XcodeSpyScanner scanner;
    const platform::FileURL file(projectOnDisk().string(), false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(scanner.scan(file));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fs::file_size(projectOnDisk())));
}
BENCHMARK(xcodeSpyScan)->Unit(benchmark::kMillisecond);

// The build-script analysis over one project file: read, model, every phase's script read and
// followed. On the generated file (a phase every hundred lines) or QUILLON_BENCH_PROJECT.
void buildScriptScan(benchmark::State& state) {
    fs::path file = projectOnDisk();
    if (const char* real = std::getenv("QUILLON_BENCH_PROJECT")) {
        file = scratch() / "Real" / "Real.xcodeproj" / "project.pbxproj";
        fs::create_directories(file.parent_path());
        fs::copy_file(real, file, fs::copy_options::overwrite_existing);
    }
    const fs::path folder = file.parent_path().parent_path();
    const platform::FileURL root(folder.string(), true);
    const std::vector<platform::FileURL> files{platform::FileURL(file.string(), false)};
    std::size_t findings = 0;
    for (auto _ : state) {
        const auto report = detectors::buildscripts::BuildScriptScanner().scan(root, files);
        findings = report.findings.size();
        benchmark::DoNotOptimize(report);
    }
    state.counters["findings"] = static_cast<double>(findings);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fs::file_size(file)));
}
BENCHMARK(buildScriptScan)->Unit(benchmark::kMillisecond);

// The stages of a scan one by one over the same project file, to see where a scan's time goes.
// QUILLON_BENCH_PROJECT names a real project file to use instead, for instance one of
// make_corpus.py's.
const std::string& projectText() {
    static const std::string text = [] {
        if (const char* path = std::getenv("QUILLON_BENCH_PROJECT")) {
            if (auto content = platform::readTextFile(path)) {
                return std::move(*content);
            }
        }
        return projectFile(5 << 20);
    }();
    return text;
}

template <typename Stage>
void stage(benchmark::State& state, Stage run) {
    const std::string& text = projectText();
    for (auto _ : state) {
        run(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}

template <typename Finder>
void countMatches(benchmark::State& state, Finder finder) {
    stage(state, [&](const std::string& text) {
        std::size_t count = 0;
        finder(text, [&](const platform::Regex::Match&) { return ++count > 0; });
        benchmark::DoNotOptimize(count);
    });
}

BENCHMARK_CAPTURE(countMatches, standaloneRuns, detectors::xcsset::findStandaloneRuns);
BENCHMARK_CAPTURE(countMatches, echoArguments, detectors::xcsset::findEchoArguments);
BENCHMARK_CAPTURE(countMatches, printfArguments, detectors::xcsset::findPrintfArguments);
BENCHMARK_CAPTURE(countMatches, shellScriptBlocks, detectors::xcodespy::findShellScriptBlocks);

void keywordRules(benchmark::State& state) {
    const detectors::xcsset::XCSSETScanner scanner(platform::nullOutput());
    detectors::xcsset::XCSSETScanner::ScanContext context;
    context.file = platform::FileURL("/p/App.xcodeproj/project.pbxproj", false);
    context.content = projectText();
    stage(state, [&](const std::string&) { benchmark::DoNotOptimize(scanner.score(context)); });
}
BENCHMARK(keywordRules);

void projectModel(benchmark::State& state) {
    stage(state, [](const std::string& text) {
        benchmark::DoNotOptimize(formats::pbxproj::readProjectModel(text));
    });
}
BENCHMARK(projectModel);

void utf8Check(benchmark::State& state) {
    stage(state,
          [](const std::string& text) { benchmark::DoNotOptimize(platform::isValidUtf8(text)); });
}
BENCHMARK(utf8Check);

void fileRead(benchmark::State& state) {
    const std::string path = projectOnDisk().string();
    stage(state,
          [&](const std::string&) { benchmark::DoNotOptimize(platform::readTextFile(path)); });
}
BENCHMARK(fileRead);

// A report with a thousand candidates and payloads, one write per line to /dev/null.
void reporting(benchmark::State& state) {
    const int fd = ::open("/dev/null", O_WRONLY);
    struct DevNull final : platform::LineWriter {
        int fd;
        void writeLine(std::string_view line) override { platform::writeWholeLine(fd, line); }
    } output;
    output.fd = fd;
    const detectors::xcsset::XCSSETScanner scanner(output);
    std::string content;
    for (int i = 0; i < 1000; ++i) {
        content += "ZWNobyBoZWxsbyBmcm9tIGEgaGFybWxlc3MgdGVzdCE" + std::to_string(1000 + i) + "= ";
    }
    const auto context = scanner.buildContext(platform::FileURL("/p/a.sh", false), content);
    const auto result = scanner.score(context);
    for (auto _ : state) {
        scanner.printReport(result, context);
    }
    state.counters["lines/s"] = benchmark::Counter(
        static_cast<double>(context.encodedStrings.size() + context.decodedPayloads.size() + 8),
        benchmark::Counter::kIsIterationInvariantRate);
    ::close(fd);
}
BENCHMARK(reporting)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
