#include "support/MatcherOracle.h"

#include <cstdio>

#include "detectors/xcodespy/ShellScriptBlockMatcher.h"
#include "detectors/xcsset/PayloadMatchers.h"

namespace quillon::detectors::testing {

using platform::Regex;

namespace {

template <typename Finder>
std::function<std::vector<Regex::Match>(std::string_view)> collect(Finder finder) {
    return [finder](std::string_view text) {
        std::vector<Regex::Match> matches;
        finder(text, [&](const Regex::Match& match) {
            matches.push_back(match);
            return true;
        });
        return matches;
    };
}

}  // namespace

std::vector<Regex::Match> MatcherCase::oracle(std::string_view text) const {
    static thread_local std::string compiledFor;
    static thread_local std::optional<Regex> regex;
    if (compiledFor != pattern + std::to_string(flags)) {
        regex = Regex::compile(pattern, flags);
        compiledFor = pattern + std::to_string(flags);
    }
    return regex->findAll(text);
}

const std::vector<MatcherCase>& matcherCases() {
    static const std::vector<MatcherCase> cases = {
        {"standaloneRuns",
         "[A-Za-z0-9+/=]{40,}",
         Regex::none,
         collect(xcsset::findStandaloneRuns),
         {"QUJDQUJDQUJDQUJDQUJD", "QUJD", "a+/=", "=="}},
        {"echoArguments",
         R"(echo\s+["']([A-Za-z0-9+/=\n\r ]{20,})["'])",
         Regex::caseInsensitive,
         collect(xcsset::findEchoArguments),
         {"echo", "ECHO", "eCHo", "ech", "QUJDQUJDQUJDQUJDQUJD", "QUJD", "echo \"", "echo '"}},
        {"printfArguments",
         R"(printf\s+.*["']([A-Za-z0-9+/=\n\r ]{20,})["'])",
         Regex::caseInsensitive,
         collect(xcsset::findPrintfArguments),
         {"printf", "PRINTF", "pRiNtF", "print", "QUJDQUJDQUJDQUJDQUJD", "QUJD", "printf '", "%s"}},
        {"shellScriptBlocks",
         R"re(shellScript\s*=\s*"([\s\S]*?)";)re",
         Regex::caseInsensitive,
         collect(xcodespy::findShellScriptBlocks),
         {"shellScript", "SHELLSCRIPT", "\u017FhellScript", "shell\u017Fcript", "shellscrip", "\";",
          "= \"", "shellScript = \"", "\\\""}},
    };
    return cases;
}

std::string describe(const std::vector<Regex::Match>& matches, std::string_view) {
    std::string out;
    for (const auto& match : matches) {
        out += "[" + std::to_string(match.begin) + "," + std::to_string(match.end) + ")";
        for (std::size_t g = 0; g < match.groups.size(); ++g) {
            const auto& group = match.groups[g];
            out += " g" + std::to_string(g + 1) + "=";
            out += group.matched
                       ? "[" + std::to_string(group.begin) + "," + std::to_string(group.end) + ")"
                       : std::string("none");
        }
        out += "\n";
    }
    return out;
}

std::string randomText(std::mt19937& random, const std::vector<std::string>& keywords) {
    static const std::vector<std::string> alphabet = {" ",
                                                      "  ",
                                                      "\t",
                                                      "\n",
                                                      "\r",
                                                      "\r\n",
                                                      "\v",
                                                      "\f",
                                                      "\u0085",
                                                      "\u00A0",
                                                      "\u2028",
                                                      "\u2029",
                                                      "\u3000",
                                                      "\u1680",
                                                      "\u017F",
                                                      "\u212A",
                                                      "\u0301",
                                                      "\u00E9",
                                                      "\U0001F600",
                                                      "a",
                                                      "Z",
                                                      "s",
                                                      "S",
                                                      "k",
                                                      "K",
                                                      "e",
                                                      "p",
                                                      "0",
                                                      "9",
                                                      "'",
                                                      "\"",
                                                      "=",
                                                      "$",
                                                      "\\",
                                                      ";",
                                                      "+",
                                                      "/",
                                                      ".",
                                                      "x",
                                                      "AAAA",
                                                      "AAAAAAAAAAAAAAAAAAAA"};
    std::uniform_int_distribution<int> length(0, 120);
    std::uniform_int_distribution<std::size_t> pickAlphabet(0, alphabet.size() - 1);
    std::uniform_int_distribution<std::size_t> pickKeyword(0, keywords.size() - 1);
    std::bernoulli_distribution keyword(0.25);
    std::string text;
    const int tokens = length(random);
    for (int i = 0; i < tokens; ++i) {
        text += keyword(random) ? keywords[pickKeyword(random)] : alphabet[pickAlphabet(random)];
    }
    return text;
}

const std::vector<std::string>& craftedTexts() {
    static const std::vector<std::string> texts = {
        "",
        std::string(39, 'A'),
        std::string(40, 'A'),
        "x" + std::string(41, 'B') + "-" + std::string(40, '/'),
        "echo \"QUJDQUJDQUJDQUJDQUJD\"",
        "echo\n\t\"QUJDQUJD\nQUJD QUJD\r\nQUJD\"",
        "ECHO 'QUJDQUJDQUJDQUJDQUJD\"",
        "echo\u3000'QUJDQUJDQUJDQUJDQUJD'",
        "echo\u0085'QUJDQUJDQUJDQUJDQUJD'",
        "echo 'QUJDQUJDQUJDQUJDQUJ\u017F'",
        "echo 'QUJDQUJDQUJDQUJDQUJ\u212A' echo 'QUJDQUJDQUJDQUJDQUJD'",
        "echo 'QUJD' 'QUJDQUJDQUJDQUJDQUJD'",
        "echoecho 'QUJDQUJDQUJDQUJDQUJD'",
        "printf '%s' \"QUJDQUJDQUJDQUJDQUJD\" | base64 -d",
        "printf 'QUJDQUJDQUJDQUJDQUJD' 'QUJDQUJDQUJDQUJDQUJD' 'x'",
        "printf\n\n'QUJDQUJDQUJDQUJDQUJD'",
        "printf x\n'QUJDQUJDQUJDQUJDQUJD'",
        "printf x 'QUJDQUJD\nQUJDQUJDQUJD'",
        "printf x 'QUJDQUJDQUJDQUJDQUJD' printf y 'QUJDQUJDQUJDQUJDQUJD'",
        "printf printf printf 'QUJDQUJDQUJDQUJDQUJD'",
        "printf x\u2028'QUJDQUJDQUJDQUJDQUJD'",
        "printf x\u000B'QUJDQUJDQUJDQUJDQUJD'",
        "shellScript = \"echo hi\";",
        "shellScript = \"a\\\";b\";",
        "SHELLSCRIPT=\"\";",
        "\u017FhellScript\n=\n\"x\"; shell\u017Fcript = \"y\";",
        "shellScript = \"never closed",
        "shellScript = \"a\" ; shellScript = \"b\";",
        "shellScript=\"x\";shellScript=\"y\";",
        "shellScript = x\"; shellScript = \"y\";",
    };
    static const std::vector<std::string> withRuns = [] {
        // Runs just under, at and over 40 and identifier-like runs of 24, at every offset
        // against the sixteen- and thirty-two-byte steps of the run search, in texts that end
        // on both sides of a step's lookahead.
        std::vector<std::string> out = texts;
        for (const std::size_t run : {12, 24, 28, 39, 40, 41, 56}) {
            for (std::size_t offset = 0; offset < 48; ++offset) {
                for (const std::size_t tail : {0, 5, 30}) {
                    std::string text(offset, '-');
                    text += std::string(run, 'A');
                    text += ";" + std::string(tail, '-') + std::string(24, 'F') + " " +
                            std::string(run, '9');
                    out.push_back(std::move(text));
                }
            }
        }
        return out;
    }();
    return withRuns;
}

std::string printable(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
            out += buffer;
        }
    }
    return out;
}

}  // namespace quillon::detectors::testing
