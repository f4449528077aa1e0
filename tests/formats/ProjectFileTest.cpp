#include <gtest/gtest.h>

#include "formats/pbxproj/ProjectModel.h"
#include "formats/xcconfig/XcconfigFile.h"
#include "formats/xcscheme/SchemeFile.h"
#include "support/ProjectText.h"
#include "support/RowName.h"

namespace quillon::formats {
namespace {

using pbxproj::PlistReader;
using pbxproj::PlistValue;

struct StringCase {
    const char* name;
    const char* text;
    const char* value;
};

class PlistStrings : public ::testing::TestWithParam<StringCase> {};

TEST_P(PlistStrings, DecodeAsXcodeWrites) {
    // The document's texts are views of this text, which must outlive it.
    const std::string text = std::string("{ k = ") + GetParam().text + "; }";
    const auto document = PlistReader::read(text);
    EXPECT_EQ(document.error, "");
    EXPECT_EQ(document.root.string("k"), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Reader, PlistStrings,
    ::testing::Values(StringCase{"Unquoted", "/bin/sh", "/bin/sh"},
                      StringCase{"UnquotedWithDots", "com.apple.product-type.application",
                                 "com.apple.product-type.application"},
                      StringCase{"LineFeedAndTab", R"("a\nb\tc")", "a\nb\tc"},
                      StringCase{"QuoteAndBackslash", R"("say \"hi\" \\ ok")", "say \"hi\" \\ ok"},
                      StringCase{"UnicodeEscape", R"("caf\U00e9")", "caf\u00e9"},
                      StringCase{"OctalEscape", R"("a\101b")", "aAb"},
                      StringCase{"SingleQuoted", "'x y'", "x y"},
                      StringCase{"EmptyQuoted", "\"\"", ""}),
    testing::RowName());

TEST(Reader, CommentsDataArraysAndLines) {
    const auto document = PlistReader::read(
        "// !$*UTF8*$!\n{\n\t/* a comment */\n\ta = (x, \"y\", );\n\tb = <0fA0 41>;\n\t"
        "c = { d = e; };\n}\n");
    EXPECT_EQ(document.error, "");
    const PlistValue* a = document.root.find("a");
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->items.size(), 2u);
    EXPECT_EQ(a->items[1].text, "y");
    EXPECT_EQ(a->line, 4u);
    EXPECT_EQ(document.root.find("b")->text, std::string("\x0f\xa0\x41", 3));
    EXPECT_EQ(document.root.find("c")->string("d"), "e");
    EXPECT_EQ(document.root.find("c")->line, 6u);
}

TEST(Reader, BrokenInputKeepsWhatWasRead) {
    const struct {
        const char* name;
        std::string text;
        const char* error;
        std::uint32_t line = 1;
    } cases[] = {
        {"truncatedDictionary", "{ a = b; c = \"d", "unterminated string"},
        {"missingSemicolon", "{ a = b c = d; }", "expected ';'"},
        {"missingSemicolonBeforeALineBreak", "{\n a = b\n\n c = d; }", "expected ';'", 4},
        {"unterminatedComment", "{ a = b; /* x", "unterminated comment"},
        // The last byte is a line break: the error stands on the line it ends.
        {"unterminatedCommentOverLines", "{ a = b;\n /* x\n y\n", "unterminated comment", 3},
        {"deepNesting",
         [] {
             std::string text;
             for (int i = 0; i < 100000; ++i) {
                 text += "{a=";
             }
             return text;
         }(),
         "nesting too deep"},
        {"empty", "", "empty property list"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto document = PlistReader::read(c.text);
        EXPECT_EQ(document.error, c.error);
        EXPECT_EQ(document.errorLine, c.line);
    }
    const auto partial = PlistReader::read("{ a = b; c = \"d");
    EXPECT_EQ(partial.root.string("a"), "b");
}

TEST(Model, TargetsPhasesRulesSettingsAndTheirLines) {
    testing::ProjectLayout layout;
    layout.phases.push_back({"Lint", "swiftlint\n"});
    layout.rules.push_back({"*.txt", "cat \"$INPUT_FILE_PATH\""});
    layout.settings = {{"SWIFT_VERSION", "5.0"}};
    layout.baseConfiguration = "Config/Base.xcconfig";
    const auto model = pbxproj::readProjectModel(testing::projectText(layout));
    EXPECT_EQ(model.error, "");
    ASSERT_EQ(model.targets.size(), 1u);
    const auto& target = model.targets[0];
    EXPECT_EQ(target.name, "App");
    EXPECT_EQ(target.kind, pbxproj::Target::Kind::native);
    ASSERT_EQ(target.phases.size(), 1u);
    EXPECT_EQ(target.phases[0].name, "Lint");
    EXPECT_EQ(target.phases[0].script, "swiftlint\n");
    EXPECT_GT(target.phases[0].scriptLine, target.phases[0].line);
    ASSERT_EQ(target.rules.size(), 1u);
    EXPECT_EQ(target.rules[0].filePatterns, "*.txt");
    ASSERT_EQ(target.configurations.size(), 2u);
    EXPECT_EQ(target.configurations[0].name, "Debug");
    ASSERT_EQ(target.configurations[0].settings.size(), 1u);
    EXPECT_EQ(target.configurations[0].settings[0].key, "SWIFT_VERSION");
    // The file reference climbs its group's path.
    EXPECT_EQ(target.configurations[0].baseConfigurationPath, "Config/Base.xcconfig");
    ASSERT_EQ(model.projectConfigurations.size(), 1u);
}

TEST(Model, ListFormOfShellScriptAndLegacyTargets) {
    const auto model = pbxproj::readProjectModel(
        "{ rootObject = R; objects = {\n"
        "R = { isa = PBXProject; targets = (L, N); };\n"
        "L = { isa = PBXLegacyTarget; name = Tool; buildToolPath = /bin/sh;\n"
        "      buildArgumentsString = \"-c \\\"${KEY}\\\"\"; };\n"
        "N = { isa = PBXNativeTarget; name = App; buildPhases = (P, Missing); };\n"
        "P = { isa = PBXShellScriptBuildPhase; shellScript = (\"echo a\", \"echo b\"); };\n"
        "O = { isa = PBXShellScriptBuildPhase; shellScript = \"orphan\"; };\n"
        "}; }");
    EXPECT_EQ(model.error, "");
    ASSERT_EQ(model.targets.size(), 2u);
    EXPECT_EQ(model.targets[0].kind, pbxproj::Target::Kind::legacy);
    EXPECT_EQ(model.targets[0].buildToolPath, "/bin/sh");
    EXPECT_EQ(model.targets[0].buildArgumentsString, "-c \"${KEY}\"");
    ASSERT_EQ(model.targets[1].phases.size(), 1u);
    EXPECT_EQ(model.targets[1].phases[0].script, "echo a\necho b");
    ASSERT_EQ(model.unlistedPhases.size(), 1u);
    EXPECT_EQ(model.unlistedPhases[0].script, "orphan");
}

TEST(Xcconfig, SettingsConditionsIncludesAndComments) {
    const auto file = xcconfig::parseXcconfig(
        "// comment\n#include \"Shared.xcconfig\"\n#include? \"Local.xcconfig\"\n"
        "SWIFT_VERSION = 5.0 // trailing\nOTHER[sdk=iphoneos*][arch=arm64] = -x\nbroken line\n"
        "KEY=value;\n");
    ASSERT_EQ(file.includes.size(), 2u);
    EXPECT_EQ(file.includes[0].path, "Shared.xcconfig");
    EXPECT_TRUE(file.includes[1].optional);
    ASSERT_EQ(file.settings.size(), 3u);
    EXPECT_EQ(file.settings[0].value, "5.0");
    EXPECT_EQ(file.settings[1].key, "OTHER");
    EXPECT_EQ(file.settings[1].value, "-x");
    EXPECT_EQ(file.settings[2].value, "value");
    EXPECT_EQ(file.settings[2].line, 7u);
}

TEST(Scheme, PreAndPostActionScripts) {
    const auto scheme = xcscheme::parseScheme(
        "<?xml version=\"1.0\"?>\n<Scheme>\n<BuildAction>\n<PreActions>\n<ExecutionAction>\n"
        "<ActionContent title=\"Prepare\" scriptText=\"echo a&#10;echo b\" "
        "shellToRun=\"/bin/zsh\"/>\n"
        "</ExecutionAction>\n</PreActions>\n</"
        "BuildAction>\n<LaunchAction><PostActions><ExecutionAction>"
        "<ActionContent title=\"After\" scriptText=\"echo c\"/></ExecutionAction></PostActions>"
        "</LaunchAction>\n</Scheme>\n");
    EXPECT_EQ(scheme.error, "");
    ASSERT_EQ(scheme.scripts.size(), 2u);
    EXPECT_EQ(scheme.scripts[0].script, "echo a\necho b");
    EXPECT_EQ(scheme.scripts[0].stage, "BuildAction pre-action");
    EXPECT_EQ(scheme.scripts[0].shell, "/bin/zsh");
    EXPECT_EQ(scheme.scripts[0].line, 6u);
    EXPECT_EQ(scheme.scripts[1].stage, "LaunchAction post-action");
    const auto broken = xcscheme::parseScheme("<Scheme><BuildAction>");
    EXPECT_NE(broken.error, "");
}

}  // namespace
}  // namespace quillon::formats
