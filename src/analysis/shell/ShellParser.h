#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "analysis/shell/ShellAst.h"

namespace quillon::analysis::shell {

struct ParseResult {
    std::shared_ptr<Script> script;  // never null: what was understood, also after an error
    std::string error;               // the first problem, empty when the whole text was read
    std::uint32_t errorLine = 0;
    bool tooDeep = false;  // nesting passed kMaxDepth; the rest of the text was not read
};

// Reads sh / bash text into a syntax tree without running anything: quoting ('', "", $''),
// escapes and line continuations, comments, pipelines and and-or lists, subshells and groups,
// if / while / until / for / case, functions, $(...) and backticks (nested), ${...} with its
// operators, $((...)), here-documents and here-strings, redirections and assignments.
//
// After an error it goes on with the next statement, as ShellCheck does, and reports the first
// problem. Linear in the input: no backtracking, and nesting deeper than kMaxDepth (through
// substitutions, groups or quotes) ends the read, so that neither parsing nor the tree's
// destruction can exhaust the stack. Thread-safe: no shared state.
class ShellParser {
  public:
    static constexpr int kMaxDepth = 100;
    static ParseResult parse(std::string_view text, std::uint32_t firstLine = 1);
};

}  // namespace quillon::analysis::shell
