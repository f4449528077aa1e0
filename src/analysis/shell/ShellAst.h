#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The syntax tree of a POSIX sh / bash script as ShellParser reads it: a script is a list of
// statements; a statement is an and-or list of pipelines; a pipeline is a list of commands;
// a command is a simple command, a compound command or a function definition. Words are lists
// of parts. Every statement, command and word knows its line (1-based, in the parsed text).
namespace quillon::analysis::shell {

struct Script;

struct WordPart {
    enum class Kind {
        literal,              // unquoted or escaped text, or text inside double quotes
        singleQuoted,         // '...'
        ansiC,                // $'...', escapes already decoded into `text`
        parameter,            // $name, ${name...}
        commandSubstitution,  // $(...) or `...`
        processSubstitution,  // <(...) or >(...)
        arithmetic,           // $((...)), `text` holds the expression
    };
    Kind kind = Kind::literal;
    bool quoted = false;  // inside double quotes
    std::string text;     // literal text, parameter name, arithmetic expression
    // Parameters: the operator after the name (":-", "#", "%%", "/", "//", ":", ...), its word,
    // and for pattern replacement the replacement word.
    std::string op;
    std::vector<WordPart> argument;
    std::vector<WordPart> replacement;
    bool length = false;             // ${#name}
    bool indirect = false;           // ${!name}
    std::shared_ptr<Script> script;  // substitutions
    bool backquoted = false;
};

struct Word {
    std::vector<WordPart> parts;
    std::uint32_t line = 0;
    // The word's source text, for evidence.
    std::string source;
};

struct HereDoc {
    std::string delimiter;
    bool quoted = false;     // no expansion inside the body
    bool stripTabs = false;  // <<-
    bool terminated = false;
    Word body;  // literal when quoted, expansions parsed otherwise
};

struct Redirect {
    std::string op;  // "<", ">", ">>", ">|", "<>", "<<<", "<<", "<<-", ">&", "<&", "&>", "&>>"
    int fd = -1;     // explicit descriptor number, -1 when none was written
    Word target;     // file, descriptor, or here-string word
    std::shared_ptr<HereDoc> hereDoc;
};

struct Assignment {
    std::string name;
    Word value;
    bool append = false;      // NAME+=value
    bool isArray = false;     // NAME=(a b c)
    std::vector<Word> items;  // array items
};

struct Command {
    enum class Kind {
        simple,
        subshell,    // ( list )
        group,       // { list; }
        function,    // name() body
        ifClause,    // bodies: condition, then, [elif condition, then]..., [else]
        loop,        // while / until: bodies: condition, body
        forLoop,     // for name in words; bodies: body
        caseClause,  // words[0] the subject; bodies: one per item
        arithmetic,  // (( ... )), words hold nothing
        test,        // [[ ... ]], words hold its operands
    };
    Kind kind = Kind::simple;
    std::uint32_t line = 0;
    std::vector<Assignment> assignments;
    std::vector<Word> words;
    std::vector<Redirect> redirects;
    std::vector<std::shared_ptr<Script>> bodies;
    std::string name;  // function name or loop variable
};

struct Pipeline {
    std::vector<Command> commands;
    bool negated = false;
};

struct Statement {
    std::vector<Pipeline> pipelines;     // joined by `operators`
    std::vector<std::string> operators;  // "&&" or "||", one fewer than pipelines
    bool background = false;             // ends with &
    std::uint32_t line = 0;
    // The statement's text, kept for the outermost statements only (at most 2,000 bytes).
    std::string source;
};

struct Script {
    std::vector<Statement> statements;
};

}  // namespace quillon::analysis::shell
