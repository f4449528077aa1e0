#include <gtest/gtest.h>

#include <algorithm>

#include "analysis/shell/Decoders.h"
#include "analysis/shell/ShellEvaluator.h"
#include "analysis/shell/ShellParser.h"
#include "support/RowName.h"

namespace quillon::analysis::shell {
namespace {

// The commands a script would run, as "name arg arg", in order.
std::vector<std::string> commands(const std::string& script, const Environment& environment = {}) {
    const Trace trace = ShellEvaluator::evaluate(script, environment, Limits());
    std::vector<std::string> out;
    for (const auto& command : trace.commands) {
        std::string line = command.name;
        for (const auto& argument : command.arguments) {
            line += " " + argument;
        }
        out.push_back(line);
    }
    return out;
}

bool runs(const std::string& script, const std::string& command) {
    const auto all = commands(script);
    return std::find(all.begin(), all.end(), command) != all.end();
}

struct ConstructCase {
    const char* name;
    const char* script;
    const char* command;  // a command the script runs, with its arguments worked out
};

class Constructs : public ::testing::TestWithParam<ConstructCase> {};

TEST_P(Constructs, AreFollowed) {
    EXPECT_TRUE(runs(GetParam().script, GetParam().command))
        << ::testing::PrintToString(commands(GetParam().script));
}

INSTANTIATE_TEST_SUITE_P(
    Shell, Constructs,
    ::testing::Values(
        ConstructCase{"SingleAndDoubleQuotes", "echo 'a b' \"c $X\"", "echo a b c ${X}"},
        ConstructCase{"AnsiC", "$'\\x65\\x63\\x68\\x6f' $'a\\tb'", "echo a\tb"},
        ConstructCase{"EscapesAndContinuation", "ec\\\nho a\\ b", "echo a b"},
        ConstructCase{"Comment", "echo a # echo b", "echo a"},
        ConstructCase{"PipelineAndLists", "true && false || echo x | cat; echo y &", "echo y"},
        ConstructCase{"SubshellAndGroup", "( echo a ); { echo b; }", "echo b"},
        ConstructCase{"CommandSubstitutionNested", "echo $(echo $(echo deep))", "echo deep"},
        ConstructCase{"Backquotes", "echo `echo inner`", "echo inner"},
        ConstructCase{"HereDocumentExpands", "X=1; cat <<EOF | sh\necho $X\nEOF", "echo 1"},
        ConstructCase{"QuotedHereDocumentDoesNot", "cat <<'EOF' | sh\necho $X\nEOF", "echo ${X}"},
        ConstructCase{"HereString", "sh <<< 'echo hi'", "echo hi"},
        ConstructCase{"Assignments", "a=cu; b=rl; $a$b -s", "curl -s"},
        ConstructCase{"Export", "export T=x; echo $T", "echo x"},
        ConstructCase{"ParameterDefault", "echo ${U:-fallback}", "echo fallback"},
        ConstructCase{"ParameterPatterns", "v=archive.tar.gz; echo ${v%%.*} ${v#*.}",
                      "echo archive tar.gz"},
        ConstructCase{"ParameterReplace", "v=cXuXrXl; ${v//X/}", "curl"},
        ConstructCase{"Substring", "v=xxcurlxx; ${v:2:4}", "curl"},
        ConstructCase{"Functions", "f(){ echo \"$1-$2\"; }; f a b", "echo a-b"},
        ConstructCase{"FunctionKeyword", "function g { echo in; }; g", "echo in"},
        ConstructCase{"Eval", "eval 'echo from eval'", "echo from eval"},
        ConstructCase{"ShellC", "bash -c 'echo from c'", "echo from c"},
        ConstructCase{"ShellReadsInput", "echo 'echo piped' | zsh", "echo piped"},
        ConstructCase{"SourceStdin", "echo 'echo sourced' | source /dev/stdin", "echo sourced"},
        ConstructCase{
            "IfWhileForCase",
            "if x; then echo t; fi; for i in a; do echo $i; done; case y in *) echo c;; esac",
            "echo a"},
        ConstructCase{"PrintfAndTr", "`printf bQase64 | tr -d Q` -D", "base64 -D"},
        ConstructCase{"PrintfOctal", "$(printf '\\143\\165\\162\\154') -s", "curl -s"},
        ConstructCase{"PrintfVariable", "printf -v c '%s%s' cu rl; $c -s", "curl -s"},
        ConstructCase{"WrapperCommands", "nohup env A=1 /usr/bin/curl -s", "curl -s"},
        ConstructCase{"Hex", "echo 6563686f206869 | xxd -p -r | sh", "echo hi"},
        ConstructCase{"Base64", "echo ZWNobyBoaQ== | base64 -D | sh", "echo hi"},
        ConstructCase{"ArithmeticIsNotASubshell", "x=$((1 + 2)); echo ok", "echo ok"},
        ConstructCase{"SubshellAfterDollarParen", "$((echo ZWNobyBoaQ== | base64 -d) | sh)",
                      "echo hi"},
        ConstructCase{"ReadFromAHereString", "read -r v <<< 'curl'; $v -s", "curl -s"},
        ConstructCase{"AppleScriptShell", "osascript -e 'do shell script \"echo as\"'", "echo as"}),
    testing::RowName());

TEST(Shell, ParserReportsProblemsAndKeepsGoing) {
    const struct {
        const char* name;
        std::string text;
        const char* error;
    } cases[] = {
        {"unterminatedSingleQuote", "echo 'abc", "unterminated single quote"},
        {"unterminatedDoubleQuote", "echo \"abc", "unterminated double quote"},
        {"missingFi", "if true; then echo", "missing 'fi'"},
        {"strayParenthesis", "echo a ) echo b", "unexpected ')'"},
        {"unterminatedHereDocument", "cat <<EOF\nline", "here-document 'EOF' is not terminated"},
        {"tooDeep",
         [] {
             std::string text;
             for (int i = 0; i < 5000; ++i) {
                 text += "$(";
             }
             return text;
         }(),
         "nesting too deep"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ParseResult result = ShellParser::parse(c.text);
        EXPECT_EQ(result.error, c.error);
        ASSERT_NE(result.script, nullptr);
    }
    const ParseResult stray = ShellParser::parse("echo a ) echo b");
    EXPECT_EQ(stray.script->statements.size(), 2u);
}

TEST(Shell, DataIsFollowedIntoSinksWithItsOrigin) {
    const Trace trace = ShellEvaluator::evaluate(
        "echo ZWNobyBoaQ== | base64 -D | sh; curl -s https://x.example.invalid | bash", {},
        Limits());
    ASSERT_EQ(trace.execs.size(), 2u);
    EXPECT_EQ(trace.execs[0].sink, ExecEvent::Sink::shellInput);
    EXPECT_EQ(trace.execs[0].code.text, "echo hi");
    EXPECT_NE(trace.execs[0].code.taint & kDecoded, 0u);
    ASSERT_EQ(trace.execs[0].code.layers.size(), 1u);
    EXPECT_EQ(trace.execs[0].code.layers[0].method, "base64");
    EXPECT_NE(trace.execs[1].code.taint & kDownloaded, 0u);
}

TEST(Shell, BuildSettingsAreVariables) {
    Environment environment;
    Value setting;
    setting.text = "echo from-setting";
    setting.taint = kSetting;
    setting.setting = "KEY";
    environment["KEY"] = setting;
    const Trace trace = ShellEvaluator::evaluate("sh -c \"${KEY}\"", environment, Limits());
    ASSERT_EQ(trace.execs.size(), 1u);
    EXPECT_EQ(trace.execs[0].code.setting, "KEY");
    EXPECT_TRUE(trace.referencedVariables.contains("KEY"));
    ASSERT_GE(trace.commands.size(), 2u);
    EXPECT_EQ(trace.commands.back().context.setting, "KEY");
}

TEST(Shell, BudgetsRunOutAndSayWhich) {
    const struct {
        const char* name;
        std::string script;
        const char* budget;
    } cases[] = {
        {"selfFeedingEval", "a='eval \"$a\"'; eval \"$a\"", "depth"},
        {"recursion", "f(){ f; }; f", "call depth"},
        {"exponentialCalls", "f(){ f; f; }; f", "steps"},
        {"doubling",
         [] {
             std::string s = "a=xxxxxxxx";
             for (int i = 0; i < 64; ++i)
                 s += "; a=$a$a";
             return s;
         }(),
         "value size"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Trace trace = ShellEvaluator::evaluate(c.script, {}, Limits());
        const bool found = std::any_of(trace.budgets.begin(), trace.budgets.end(),
                                       [&](const BudgetEvent& b) { return b.what == c.budget; });
        EXPECT_TRUE(found);
    }
}

TEST(Decoders, Table) {
    EXPECT_EQ(decodeBase64Lenient("ZWNo\nbyBoaQ", 100).bytes, "echo hi");  // no padding, a break
    EXPECT_EQ(decodeBase64Lenient("-_8", 100).bytes, "\xfb\xff");          // URL-safe alphabet
    EXPECT_FALSE(decodeBase64Lenient("!!!", 100).ok);
    EXPECT_EQ(decodeHexPlain("65 63\n68-6f", 100).bytes, "echo");
    EXPECT_TRUE(decodeBase64Lenient(std::string(400, 'A'), 10).truncated);
    EXPECT_EQ(reverseLines("ab\ncd\n"), "ba\ndc\n");
    EXPECT_EQ(translate("uryyb", "a-zA-Z", "n-za-mN-ZA-M", false, false), "hello");
    EXPECT_EQ(translate("cQuQrQl", "Q", "", true, false), "curl");
    EXPECT_EQ(translate("Hello", "[:lower:]", "[:upper:]", false, false), "HELLO");
    EXPECT_EQ(formatPrintf("%s-%d\\n", {"a", "7", "b", "8"}, 100), "a-7\nb-8\n");
    EXPECT_EQ(formatPrintf("\\x63\\165rl", {}, 100), "curl");
    EXPECT_EQ(formatPrintf("%b", {"\\0143url"}, 100), "curl");
    EXPECT_EQ(interpretEscapes("a\\tb\\c ignored", true, nullptr), "a\tb");
    EXPECT_FALSE(inflate("not gzip", 100).ok);
}

}  // namespace
}  // namespace quillon::analysis::shell
