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
#include "detectors/xcodespy/XcodeSpyScanner.h"
#include "detectors/xcsset/XCSSETScanner.h"
#include "platform/LineWriter.h"

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
