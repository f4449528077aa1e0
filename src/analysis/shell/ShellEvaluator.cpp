#include "analysis/shell/ShellEvaluator.h"

#include <fnmatch.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "analysis/shell/Decoders.h"
#include "analysis/shell/ShellParser.h"

namespace quillon::analysis::shell {

std::string_view commandBaseName(std::string_view name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

namespace {

bool isShell(std::string_view name) {
    static const std::unordered_set<std::string_view> kShells = {
        "sh", "bash", "zsh", "dash", "ksh", "mksh", "fish", "csh", "tcsh", "ash", "busybox"};
    return kShells.contains(name);
}

bool isInterpreter(std::string_view name) {
    static const std::unordered_set<std::string_view> kInterpreters = {
        "python", "python2", "python3", "perl",  "ruby", "node",
        "php",    "lua",     "tclsh",   "swift", "pwsh", "jxa"};
    return kInterpreters.contains(name) || name.starts_with("python3.") ||
           name.starts_with("perl5");
}

// Filters that pass their input's nature on to their output.
bool isTextFilter(std::string_view name) {
    static const std::unordered_set<std::string_view> kFilters = {
        "sed",    "awk",      "gawk",  "cut",  "head",    "tail",  "sort",
        "uniq",   "grep",     "egrep", "fold", "paste",   "iconv", "col",
        "expand", "unexpand", "fmt",   "cat",  "strings", "dd",    "tac"};
    return kFilters.contains(name);
}

bool isWrapper(std::string_view name) {
    static const std::unordered_set<std::string_view> kWrappers = {
        "command",    "builtin", "exec", "nohup", "time",   "sudo",    "env",  "nice",
        "caffeinate", "setsid",  "arch", "xcrun", "stdbuf", "timeout", "doas", "disown"};
    return kWrappers.contains(name);
}

bool hasFlag(const std::vector<std::string>& arguments, std::string_view flag) {
    return std::find(arguments.begin(), arguments.end(), flag) != arguments.end();
}

// Combined short options ("-rp", "-ps") count for each letter.
bool hasShortFlag(const std::vector<std::string>& arguments, char letter) {
    for (const auto& argument : arguments) {
        if (argument.size() >= 2 && argument[0] == '-' && argument[1] != '-' &&
            argument.find(letter) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string trimTrailingNewlines(std::string text) {
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

struct Segment {
    Value value;
    bool splittable = false;
    bool parameter = false;
    bool substituted = false;  // command substitution output
};

class Evaluator {
  public:
    Evaluator(const Environment& environment, const Limits& limits, Trace& trace)
        : limits_(limits), trace_(trace), variables_(environment.begin(), environment.end()) {}

    struct Frame {
        EventContext context;
        std::vector<Value> positional;
        bool inFunction = false;
    };

    void runTop(std::string_view text, std::uint32_t firstLine) {
        auto parsed = std::make_shared<ParseResult>(ShellParser::parse(text, firstLine));
        trace_.parseError = parsed->error;
        trace_.parseErrorLine = parsed->errorLine;
        if (parsed->tooDeep) {
            BudgetEvent event;
            event.what = "nesting";
            event.context.line = parsed->errorLine;
            trace_.budgets.push_back(std::move(event));
        }
        keepAlive_.push_back(parsed);
        Frame frame;
        Value none;
        runScript(*parsed->script, frame, none, false);
        trace_.stepsUsed = steps_;
        trace_.bytesUsed = bytes_ + text.size();
    }

  private:
    // --- budgets --------------------------------------------------------------------------

    bool exhausted() const { return stepsOut_ || bytesOut_ || nestingOut_; }

    void budgetEvent(std::string what, const Frame& frame, std::uint32_t line) {
        for (const auto& event : trace_.budgets) {
            if (event.what == what) {
                return;
            }
        }
        BudgetEvent event;
        event.what = std::move(what);
        event.context = frame.context;
        event.context.line = lineFor(frame, line);
        trace_.budgets.push_back(std::move(event));
    }

    bool step(const Frame& frame, std::uint32_t line) {
        if (exhausted()) {
            return false;
        }
        if (++steps_ > limits_.steps) {
            stepsOut_ = true;
            budgetEvent("steps", frame, line);
            return false;
        }
        return true;
    }

    // Charges a value's size; a value past the per-value cap is cut there.
    void charge(Value& value, const Frame& frame, std::uint32_t line) {
        if (value.text.size() > limits_.valueBytes) {
            value.text.resize(limits_.valueBytes);
            value.taint |= kUnknown;
            budgetEvent("value size", frame, line);
        }
        bytes_ += value.text.size();
        if (bytes_ > limits_.bytes) {
            bytesOut_ = true;
            budgetEvent("bytes", frame, line);
        }
    }

    static std::uint32_t lineFor(const Frame& frame, std::uint32_t line) {
        return frame.context.depth > 0 ? frame.context.line : line;
    }

    // --- structure ------------------------------------------------------------------------

    struct Nest {
        explicit Nest(Evaluator& evaluator) : evaluator_(evaluator) { ++evaluator_.nesting_; }
        ~Nest() { --evaluator_.nesting_; }
        Evaluator& evaluator_;
    };

    bool deepEnough(const Frame& frame, std::uint32_t line) {
        // The syntax tree is bounded, but executed code and calls nest trees in trees.
        if (nesting_ > 400) {
            nestingOut_ = true;
            budgetEvent("nesting", frame, line);
            return true;
        }
        return false;
    }

    Value runScript(const Script& script, Frame& frame, const Value& input, bool hasInput) {
        Nest nest(*this);
        Value output;
        if (deepEnough(frame, 0)) {
            return output;
        }
        for (const auto& statement : script.statements) {
            if (exhausted()) {
                break;
            }
            Frame inner = frame;
            if (!statement.source.empty() && frame.context.depth == 0) {
                inner.context.statement = statement.source;
            }
            if (statement.background) {
                inner.context.detached = true;
            }
            for (const auto& pipeline : statement.pipelines) {
                Value out = runPipeline(pipeline, inner, input, hasInput);
                append(output, out, frame, statement.line);
            }
        }
        return output;
    }

    void append(Value& target, const Value& piece, const Frame& frame, std::uint32_t line) {
        if (piece.text.empty() && piece.taint == 0) {
            return;
        }
        if (target.text.size() + piece.text.size() > limits_.valueBytes) {
            target.taint |= kUnknown;
            budgetEvent("value size", frame, line);
            return;
        }
        target.text += piece.text;
        bytes_ += piece.text.size();
        target.taint |= piece.taint;
        if (target.layers.empty()) {
            target.layers = piece.layers;
        }
        if (target.setting.empty()) {
            target.setting = piece.setting;
        }
    }

    Value runPipeline(const Pipeline& pipeline, Frame& frame, const Value& input, bool hasInput) {
        Value current = input;
        bool currentPresent = hasInput;
        for (std::size_t i = 0; i < pipeline.commands.size(); ++i) {
            if (exhausted()) {
                break;
            }
            Value out = runCommand(pipeline.commands[i], frame, current, currentPresent);
            current = std::move(out);
            currentPresent = true;
        }
        return pipeline.commands.empty() ? Value() : current;
    }

    Value runCommand(const Command& command, Frame& frame, const Value& input, bool hasInput) {
        Nest nest(*this);
        if (deepEnough(frame, command.line) || !step(frame, command.line)) {
            return {};
        }
        switch (command.kind) {
            case Command::Kind::simple:
                return runSimple(command, frame, input, hasInput);
            case Command::Kind::function:
                if (!command.bodies.empty()) {
                    functions_[command.name] = command.bodies[0];
                }
                return {};
            case Command::Kind::arithmetic:
                return {};
            case Command::Kind::test:
                for (const auto& word : command.words) {
                    expandJoined(word, frame);
                }
                return {};
            case Command::Kind::forLoop: {
                std::vector<Value> items;
                for (const auto& word : command.words) {
                    for (auto& field : expandWord(word, frame)) {
                        items.push_back(std::move(field));
                    }
                }
                if (items.empty()) {
                    Value unknown;
                    unknown.text = "${" + command.name + "}";
                    unknown.taint = kUnknown;
                    items.push_back(unknown);
                }
                Value output;
                Frame inner = frame;
                applyRedirectFlags(command, inner);
                const std::size_t rounds = std::min<std::size_t>(items.size(), 64);
                for (std::size_t i = 0; i < rounds && !exhausted(); ++i) {
                    if (!command.name.empty()) {
                        variables_[command.name] = items[i];
                    }
                    for (const auto& body : command.bodies) {
                        append(output, runScript(*body, inner, input, hasInput), frame,
                               command.line);
                    }
                }
                return finishCompound(command, inner, std::move(output));
            }
            case Command::Kind::caseClause:
                if (!command.words.empty()) {
                    expandJoined(command.words[0], frame);
                }
                [[fallthrough]];
            case Command::Kind::subshell:
            case Command::Kind::group:
            case Command::Kind::ifClause:
            case Command::Kind::loop: {
                Frame inner = frame;
                applyRedirectFlags(command, inner);
                Value redirectedInput;
                bool redirected = false;
                readRedirectInput(command, inner, redirectedInput, redirected);
                Value output;
                for (const auto& body : command.bodies) {
                    append(output,
                           runScript(*body, inner, redirected ? redirectedInput : input,
                                     redirected || hasInput),
                           frame, command.line);
                }
                return finishCompound(command, inner, std::move(output));
            }
        }
        return {};
    }

    Value finishCompound(const Command& command, Frame& frame, Value output) {
        return writeRedirectOutput(command, frame, std::move(output), "redirect");
    }

    // --- words ----------------------------------------------------------------------------

    Value lookup(const std::string& name, const Frame& frame, bool& defined) {
        defined = true;
        if (name == "@" || name == "*") {
            Value joined;
            for (std::size_t i = 0; i < frame.positional.size(); ++i) {
                if (i > 0) {
                    joined.text.push_back(' ');
                }
                joined.text += frame.positional[i].text;
                joined.taint |= frame.positional[i].taint;
            }
            return joined;
        }
        if (!name.empty() && name[0] >= '0' && name[0] <= '9') {
            const std::size_t index = static_cast<std::size_t>(std::stoul(name.substr(0, 6)));
            if (index >= 1 && index <= frame.positional.size()) {
                return frame.positional[index - 1];
            }
            defined = false;
            Value unknown;
            unknown.taint = kUnknown;
            return unknown;
        }
        if (name == "#") {
            Value count;
            count.text = std::to_string(frame.positional.size());
            return count;
        }
        if (name == "?" || name == "$" || name == "!" || name == "-") {
            Value unknown;
            unknown.text = "0";
            unknown.taint = kUnknown;
            return unknown;
        }
        trace_.referencedVariables.insert(name);
        const auto found = variables_.find(name);
        if (found != variables_.end()) {
            return found->second;
        }
        defined = false;
        Value unknown;
        unknown.text = "${" + name + "}";
        unknown.taint = kUnknown;
        return unknown;
    }

    static bool hasGlob(std::string_view pattern) {
        return pattern.find_first_of("*?[") != std::string_view::npos;
    }

    static bool globMatch(const std::string& pattern, const std::string& text) {
        return ::fnmatch(pattern.c_str(), text.c_str(), 0) == 0;
    }

    Value applyOperator(const WordPart& part, Value value, bool defined, Frame& frame,
                        std::uint32_t line) {
        const std::string& op = part.op;
        if (op.empty()) {
            return value;
        }
        const bool colon = op[0] == ':' && op.size() == 2;
        const bool unset = !defined || (colon && value.text.empty());
        auto argument = [&] { return joinParts(part.argument, frame, line); };
        if (op == ":-" || op == "-") {
            return unset ? argument() : value;
        }
        if (op == ":=" || op == "=") {
            if (unset) {
                Value assigned = argument();
                variables_[part.text] = assigned;
                return assigned;
            }
            return value;
        }
        if (op == ":+" || op == "+") {
            return unset ? Value() : argument();
        }
        if (op == ":?" || op == "?") {
            return value;
        }
        if (value.text.size() > 4096 && op != "^^" && op != ",,") {
            value.taint |= kUnknown;
            return value;
        }
        if (op == "#" || op == "##" || op == "%" || op == "%%") {
            const std::string pattern = argument().text;
            const std::string& text = value.text;
            const bool longest = op.size() == 2;
            const bool prefix = op[0] == '#';
            std::string result = text;
            if (!hasGlob(pattern)) {
                if (prefix && text.starts_with(pattern)) {
                    result = text.substr(pattern.size());
                } else if (!prefix && text.ends_with(pattern)) {
                    result = text.substr(0, text.size() - pattern.size());
                }
            } else {
                const std::size_t n = text.size();
                for (std::size_t k = 0; k <= n; ++k) {
                    const std::size_t length = longest ? n - k : k;
                    const std::string piece =
                        prefix ? text.substr(0, length) : text.substr(n - length);
                    if (globMatch(pattern, piece)) {
                        result = prefix ? text.substr(length) : text.substr(0, n - length);
                        break;
                    }
                }
            }
            value.text = std::move(result);
            value.taint |= kConstructed;
            return value;
        }
        if (op == "/" || op == "//" || op == "/#" || op == "/%") {
            const std::string pattern = joinParts(part.argument, frame, line).text;
            const std::string replacement = joinParts(part.replacement, frame, line).text;
            if (pattern.empty() || hasGlob(pattern)) {
                value.taint |= kUnknown;
                return value;
            }
            std::string& text = value.text;
            if (op == "/#") {
                if (text.starts_with(pattern)) {
                    text = replacement + text.substr(pattern.size());
                }
            } else if (op == "/%") {
                if (text.ends_with(pattern)) {
                    text = text.substr(0, text.size() - pattern.size()) + replacement;
                }
            } else {
                std::string out;
                std::size_t at = 0;
                while (true) {
                    const std::size_t found = text.find(pattern, at);
                    if (found == std::string::npos) {
                        break;
                    }
                    out.append(text, at, found - at);
                    out.append(replacement);
                    at = found + pattern.size();
                    if (op == "/") {
                        break;
                    }
                }
                out.append(text, at, std::string::npos);
                text = std::move(out);
            }
            value.taint |= kConstructed;
            return value;
        }
        if (op == ":") {
            const std::string range = joinParts(part.argument, frame, line).text;
            const std::size_t colonAt = range.find(':');
            try {
                long long offset = std::stoll(range.substr(0, colonAt));
                const auto size = static_cast<long long>(value.text.size());
                if (offset < 0) {
                    offset = std::max(0LL, size + offset);
                }
                offset = std::min(offset, size);
                long long length = size - offset;
                if (colonAt != std::string::npos) {
                    length = std::stoll(range.substr(colonAt + 1));
                    if (length < 0) {
                        length = std::max(0LL, size - offset + length);
                    }
                }
                value.text = value.text.substr(static_cast<std::size_t>(offset),
                                               static_cast<std::size_t>(std::max(0LL, length)));
                value.taint |= kConstructed;
            } catch (...) {
                value.taint |= kUnknown;
            }
            return value;
        }
        if (op == "^^" || op == "^" || op == ",," || op == ",") {
            const bool upper = op[0] == '^';
            const std::size_t count = op.size() == 2 ? value.text.size() : 1;
            for (std::size_t i = 0; i < count && i < value.text.size(); ++i) {
                char& c = value.text[i];
                c = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(c))
                                            : std::tolower(static_cast<unsigned char>(c)));
            }
            value.taint |= kConstructed;
            return value;
        }
        value.taint |= kUnknown;
        return value;
    }

    void expandParts(const std::vector<WordPart>& parts, Frame& frame, std::uint32_t line,
                     std::vector<Segment>& out) {
        for (const auto& part : parts) {
            Segment segment;
            switch (part.kind) {
                case WordPart::Kind::literal:
                case WordPart::Kind::singleQuoted:
                    segment.value.text = part.text;
                    break;
                case WordPart::Kind::ansiC:
                    segment.value.text = part.text;
                    segment.value.taint = kConstructed;
                    segment.value.layers.push_back({"ansi-c", part.text});
                    break;
                case WordPart::Kind::parameter: {
                    bool defined = false;
                    Value value;
                    if (part.indirect) {
                        Value name = lookup(part.text, frame, defined);
                        value = lookup(name.text, frame, defined);
                    } else {
                        value = lookup(part.text, frame, defined);
                    }
                    if (part.length) {
                        Value length;
                        length.text = std::to_string(defined ? value.text.size() : 0);
                        value = length;
                    } else {
                        value = applyOperator(part, std::move(value), defined, frame, line);
                    }
                    value.soleVariable = part.text;
                    value.soleVariableDefined = defined;
                    segment.value = std::move(value);
                    segment.splittable = !part.quoted;
                    segment.parameter = true;
                    break;
                }
                case WordPart::Kind::commandSubstitution: {
                    Value output;
                    if (part.script) {
                        Frame inner = frame;
                        output = runScript(*part.script, inner, Value(), false);
                    }
                    output.text = trimTrailingNewlines(std::move(output.text));
                    if (output.text.empty()) {
                        output.taint |= kUnknown;
                    }
                    segment.value = std::move(output);
                    segment.splittable = !part.quoted;
                    segment.substituted = true;
                    break;
                }
                case WordPart::Kind::processSubstitution: {
                    Value output;
                    if (part.script) {
                        Frame inner = frame;
                        output = runScript(*part.script, inner, Value(), false);
                    }
                    const std::string path = "/dev/fd/" + std::to_string(63 + processFiles_++);
                    files_[path] = std::move(output);
                    segment.value.text = path;
                    break;
                }
                case WordPart::Kind::arithmetic:
                    segment.value.text = "0";
                    segment.value.taint = kUnknown;
                    break;
            }
            out.push_back(std::move(segment));
        }
    }

    Value combine(std::vector<Segment>& segments, Frame& frame, std::uint32_t line) {
        Value value;
        int nonEmpty = 0;
        const Segment* sole = nullptr;
        for (auto& segment : segments) {
            if (!segment.value.text.empty() || segment.parameter) {
                ++nonEmpty;
                sole = &segment;
            }
            value.text += segment.value.text;
            if (value.text.size() > limits_.valueBytes) {
                value.text.resize(limits_.valueBytes);
                value.taint |= kUnknown;
                budgetEvent("value size", frame, line);
                break;
            }
            value.taint |= segment.value.taint;
            if (value.layers.empty()) {
                value.layers = segment.value.layers;
            }
            if (value.setting.empty()) {
                value.setting = segment.value.setting;
            }
        }
        if (nonEmpty == 1 && sole->parameter) {
            value.soleVariable = sole->value.soleVariable;
            value.soleVariableDefined = sole->value.soleVariableDefined;
        }
        // Pieces put together at run time, one of them expanded: "$a$b", "cu$x", "$(...)rl".
        if (nonEmpty >= 2) {
            bool expanded = false;
            for (const auto& segment : segments) {
                if (segment.parameter || segment.substituted) {
                    expanded = expanded || !segment.value.text.empty();
                }
            }
            if (expanded) {
                value.taint |= kConstructed;
            }
        }
        charge(value, frame, line);
        return value;
    }

    Value joinParts(const std::vector<WordPart>& parts, Frame& frame, std::uint32_t line) {
        std::vector<Segment> segments;
        expandParts(parts, frame, line, segments);
        return combine(segments, frame, line);
    }

    Value expandJoined(const Word& word, Frame& frame) {
        return joinParts(word.parts, frame, word.line);
    }

    // Expansion with field splitting of unquoted expansions, as the shell does.
    std::vector<Value> expandWord(const Word& word, Frame& frame) {
        std::vector<Segment> segments;
        expandParts(word.parts, frame, word.line, segments);
        bool split = false;
        for (const auto& segment : segments) {
            if (segment.splittable &&
                segment.value.text.find_first_of(" \t\n") != std::string::npos) {
                split = true;
            }
        }
        if (!split) {
            Value value = combine(segments, frame, word.line);
            bool onlyEmptyExpansions = !segments.empty();
            for (const auto& segment : segments) {
                if (!segment.splittable || !segment.value.text.empty()) {
                    onlyEmptyExpansions = false;
                }
            }
            if (onlyEmptyExpansions && (value.taint & kUnknown) == 0) {
                return {};
            }
            return {std::move(value)};
        }
        std::vector<Value> fields;
        std::vector<Segment> current;
        bool currentHasText = false;
        auto flush = [&] {
            if (currentHasText) {
                fields.push_back(combine(current, frame, word.line));
            }
            current.clear();
            currentHasText = false;
        };
        for (auto& segment : segments) {
            if (!segment.splittable) {
                current.push_back(segment);
                currentHasText = true;
                continue;
            }
            const std::string& text = segment.value.text;
            std::size_t start = 0;
            while (start <= text.size()) {
                const std::size_t end = text.find_first_of(" \t\n", start);
                const std::string piece =
                    text.substr(start, end == std::string::npos ? std::string::npos : end - start);
                if (!piece.empty()) {
                    Segment pieceSegment = segment;
                    pieceSegment.value.text = piece;
                    pieceSegment.parameter = false;
                    current.push_back(std::move(pieceSegment));
                    currentHasText = true;
                }
                if (end == std::string::npos) {
                    break;
                }
                flush();
                start = end + 1;
            }
        }
        flush();
        return fields;
    }

    // --- redirections ---------------------------------------------------------------------

    static bool isStdoutRedirect(const Redirect& redirect) {
        return (redirect.op == ">" || redirect.op == ">>" || redirect.op == ">|" ||
                redirect.op == "&>" || redirect.op == "&>>") &&
               (redirect.fd == -1 || redirect.fd == 1);
    }

    void applyRedirectFlags(const Command& command, Frame& frame) {
        for (const auto& redirect : command.redirects) {
            if (isStdoutRedirect(redirect) && redirect.target.source == "/dev/null") {
                frame.context.silenced = true;
            }
        }
    }

    void readRedirectInput(const Command& command, Frame& frame, Value& input, bool& present) {
        for (const auto& redirect : command.redirects) {
            if (redirect.op == "<<<") {
                input = expandJoined(redirect.target, frame);
                input.text.push_back('\n');
                present = true;
            } else if (redirect.hereDoc) {
                input = joinParts(redirect.hereDoc->body.parts, frame, redirect.target.line);
                present = true;
            } else if (redirect.op == "<" && (redirect.fd == -1 || redirect.fd == 0)) {
                const Value path = expandJoined(redirect.target, frame);
                const auto found = files_.find(path.text);
                if (found != files_.end()) {
                    input = found->second;
                } else {
                    input = Value();
                    input.taint = kUnknown;
                }
                present = true;
            }
        }
    }

    Value writeRedirectOutput(const Command& command, Frame& frame, Value output, const char* via) {
        for (const auto& redirect : command.redirects) {
            if (!isStdoutRedirect(redirect)) {
                // Any descriptor joined to bash's network paths is a connection.
                if (redirect.hereDoc == nullptr && redirect.op != "<<<" &&
                    redirect.target.source.find("/dev/") != std::string::npos) {
                    const Value path = expandJoined(redirect.target, frame);
                    if (path.text.starts_with("/dev/tcp/") || path.text.starts_with("/dev/udp/")) {
                        WriteEvent event;
                        event.path = path.text;
                        event.via = "socket";
                        event.context = frame.context;
                        event.context.line = lineFor(frame, redirect.target.line);
                        trace_.writes.push_back(std::move(event));
                    }
                }
                continue;
            }
            const Value path = expandJoined(redirect.target, frame);
            if (path.text == "/dev/null" || path.text == "/dev/stdout" ||
                path.text == "/dev/stderr") {
                output = Value();
                continue;
            }
            WriteEvent event;
            event.path = path.text;
            event.append = redirect.op == ">>" || redirect.op == "&>>";
            event.content = output;
            event.via = via;
            event.context = frame.context;
            event.context.line = lineFor(frame, redirect.target.line);
            trace_.writes.push_back(std::move(event));
            files_[path.text] = output;
            output = Value();
        }
        return output;
    }

    // --- execution ------------------------------------------------------------------------

    void execute(ExecEvent::Sink sink, const std::string& command, const Value& code,
                 const std::string& path, Frame& frame, std::uint32_t line) {
        ExecEvent event;
        event.sink = sink;
        event.command = command;
        event.code = code;
        event.path = path;
        if (!path.empty() && !directory_.empty() && !path.starts_with("/") &&
            !path.starts_with("~") && !path.starts_with("$")) {
            event.path = directory_ + "/" + path;
        }
        event.context = frame.context;
        event.context.line = lineFor(frame, line);
        trace_.execs.push_back(event);
        const bool shellCode = sink == ExecEvent::Sink::shellInput ||
                               sink == ExecEvent::Sink::shellCode ||
                               sink == ExecEvent::Sink::eval || sink == ExecEvent::Sink::source ||
                               (sink == ExecEvent::Sink::scriptFile && !code.text.empty());
        if (!shellCode || code.text.empty() || exhausted()) {
            return;
        }
        if (frame.context.depth >= limits_.depth) {
            budgetEvent("depth", frame, line);
            return;
        }
        auto parsed = std::make_shared<ParseResult>(ShellParser::parse(code.text, 1));
        bytes_ += code.text.size();
        if (parsed->tooDeep) {
            budgetEvent("nesting", frame, line);
        }
        keepAlive_.push_back(parsed);
        Frame inner;
        inner.context = frame.context;
        inner.context.line = lineFor(frame, line);
        inner.context.depth = frame.context.depth + 1;
        inner.context.viaConstructedCode |= (code.taint & kConstructed) != 0;
        inner.context.viaDecodedCode |= (code.taint & kDecoded) != 0;
        inner.context.viaDownloadedCode |= (code.taint & kDownloaded) != 0;
        if (!code.layers.empty()) {
            inner.context.layers = code.layers;
        }
        if (!code.setting.empty()) {
            inner.context.setting = code.setting;
        }
        inner.positional = frame.positional;
        runScript(*parsed->script, inner, Value(), false);
    }

    Value decoded(const Value& input, Decoded result, const char* method, Frame& frame,
                  std::uint32_t line) {
        Value out;
        out.text = std::move(result.bytes);
        out.taint = (input.taint & ~kConstructed) | kDecoded | (result.ok ? 0u : kUnknown);
        out.layers = input.layers;
        out.setting = input.setting;
        core::DecodedLayer layer{method, out.text.substr(0, limits_.layerText)};
        if (out.layers.size() < 16) {
            out.layers.push_back(layer);
        }
        trace_.decodedTexts.push_back(std::move(layer));
        if (result.truncated) {
            budgetEvent(std::string(method) == "gzip" ? "decompressed size" : "value size", frame,
                        line);
        }
        charge(out, frame, line);
        return out;
    }

    std::string fileKey(std::string path) const {
        while (path.starts_with("./")) {
            path.erase(0, 2);
        }
        return path;
    }

    const Value* savedFile(const std::string& path) const {
        const auto found = files_.find(path);
        if (found != files_.end()) {
            return &found->second;
        }
        const auto stripped = files_.find(fileKey(path));
        return stripped != files_.end() ? &stripped->second : nullptr;
    }

    void saveDownload(const std::string& path, Frame& frame, std::uint32_t line, const char* via) {
        Value content;
        content.taint = kDownloaded | kUnknown;
        files_[fileKey(path)] = content;
        WriteEvent event;
        event.path = path;
        event.content = content;
        event.via = via;
        event.context = frame.context;
        event.context.line = lineFor(frame, line);
        trace_.writes.push_back(std::move(event));
    }

    static std::string urlFileName(const std::vector<std::string>& arguments) {
        for (const auto& argument : arguments) {
            if (argument.find("://") != std::string::npos) {
                std::string name(commandBaseName(argument));
                const std::size_t query = name.find_first_of("?#");
                if (query != std::string::npos) {
                    name.resize(query);
                }
                return name.empty() ? "index.html" : name;
            }
        }
        return {};
    }

    Value runSimple(const Command& command, Frame& frame, const Value& pipedInput,
                    bool hasPipedInput) {
        for (const auto& assignment : command.assignments) {
            Value value;
            if (assignment.isArray) {
                for (const auto& item : assignment.items) {
                    Value piece = expandJoined(item, frame);
                    if (!value.text.empty()) {
                        piece.text.insert(piece.text.begin(), ' ');
                    }
                    append(value, piece, frame, command.line);
                }
            } else {
                value = expandJoined(assignment.value, frame);
            }
            value.soleVariable.clear();
            if (assignment.append) {
                Value& target = variables_[assignment.name];
                append(target, value, frame, command.line);
            } else {
                variables_[assignment.name] = std::move(value);
            }
        }
        std::vector<Value> fields;
        for (const auto& word : command.words) {
            for (auto& field : expandWord(word, frame)) {
                fields.push_back(std::move(field));
            }
        }
        Frame inner = frame;
        applyRedirectFlags(command, inner);
        Value input = pipedInput;
        bool hasInput = hasPipedInput;
        readRedirectInput(command, inner, input, hasInput);
        if (fields.empty()) {
            return writeRedirectOutput(command, inner, Value(), "redirect");
        }
        std::string source;
        for (std::size_t i = 0; i < command.words.size(); ++i) {
            if (i > 0) {
                source.push_back(' ');
            }
            source += command.words[i].source;
        }
        Value output = dispatch(fields, 0, command, inner, input, hasInput, source);
        return writeRedirectOutput(command, inner, std::move(output), "redirect");
    }

    void recordCommand(const std::string& name, const std::vector<Value>& fields, std::size_t at,
                       const Command& command, const Frame& frame, const Value& input,
                       const std::string& source) {
        CommandEvent event;
        event.name = name;
        for (std::size_t i = at + 1; i < fields.size(); ++i) {
            event.arguments.push_back(fields[i].text);
        }
        event.source = source;
        const Value& nameValue = fields[at];
        event.nameConstructed = (nameValue.taint & kConstructed) != 0;
        event.inputTaint = input.taint;
        event.context = frame.context;
        event.context.line = lineFor(frame, command.line);
        if (trace_.commands.size() < 100'000) {
            trace_.commands.push_back(std::move(event));
        }
    }

    Value dispatch(std::vector<Value>& fields, std::size_t at, const Command& command, Frame& frame,
                   const Value& input, bool hasInput, const std::string& source) {
        // Wrappers run the command after their own options.
        while (at < fields.size()) {
            const std::string name(commandBaseName(fields[at].text));
            if (!isWrapper(name)) {
                break;
            }
            if (name == "nohup" || name == "setsid" || name == "disown") {
                frame.context.detached = true;
            }
            recordCommand(name, fields, at, command, frame, input, source);
            ++at;
            while (at < fields.size()) {
                const std::string& next = fields[at].text;
                if (next.starts_with("-")) {
                    // Options that take a value.
                    if ((name == "sudo" && (next == "-u" || next == "-g")) ||
                        (name == "nice" && next == "-n") || (name == "timeout" && next == "-s") ||
                        (name == "env" && (next == "-u" || next == "-C")) ||
                        (name == "xcrun" && (next == "-sdk" || next == "--sdk"))) {
                        ++at;
                    }
                    ++at;
                    continue;
                }
                if ((name == "env") && next.find('=') != std::string::npos) {
                    ++at;
                    continue;
                }
                if (name == "timeout" && !next.empty() &&
                    std::isdigit(static_cast<unsigned char>(next[0]))) {
                    ++at;
                    continue;
                }
                break;
            }
        }
        if (at >= fields.size()) {
            return {};
        }
        const Value& nameValue = fields[at];
        const std::string name(commandBaseName(nameValue.text));
        recordCommand(name, fields, at, command, frame, input, source);
        std::vector<std::string> arguments;
        for (std::size_t i = at + 1; i < fields.size(); ++i) {
            arguments.push_back(fields[i].text);
        }
        auto argumentTaint = [&] {
            unsigned taint = 0;
            for (std::size_t i = at + 1; i < fields.size(); ++i) {
                taint |= fields[i].taint;
            }
            return taint;
        };
        auto argumentLayers = [&] {
            for (std::size_t i = at + 1; i < fields.size(); ++i) {
                if (!fields[i].layers.empty()) {
                    return fields[i].layers;
                }
            }
            return std::vector<core::DecodedLayer>();
        };
        auto argumentSetting = [&] {
            for (std::size_t i = at + 1; i < fields.size(); ++i) {
                if (!fields[i].setting.empty()) {
                    return fields[i].setting;
                }
            }
            return std::string();
        };
        const std::uint32_t line = command.line;

        if (const auto function = functions_.find(name); function != functions_.end()) {
            if (callDepth_ >= limits_.callDepth) {
                budgetEvent("call depth", frame, line);
                return {};
            }
            ++callDepth_;
            Frame inner = frame;
            inner.positional.assign(fields.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                                    fields.end());
            const std::shared_ptr<Script> body = function->second;
            Value out = runScript(*body, inner, input, hasInput);
            --callDepth_;
            return out;
        }
        if (name == "echo" || name == "print") {
            std::size_t first = at + 1;
            bool newline = true;
            bool escapes = false;
            while (first < fields.size()) {
                const std::string& option = fields[first].text;
                if (option.size() < 2 || option[0] != '-' ||
                    option.find_first_not_of("neE", 1) != std::string::npos) {
                    break;
                }
                newline = newline && option.find('n') == std::string::npos;
                escapes = option.find('e') != std::string::npos;
                ++first;
            }
            Value out;
            for (std::size_t i = first; i < fields.size(); ++i) {
                if (i > first) {
                    out.text.push_back(' ');
                }
                out.text += fields[i].text;
            }
            if (escapes) {
                bool stop = false;
                out.text = interpretEscapes(out.text, true, &stop);
                newline = newline && !stop;
            }
            if (newline) {
                out.text.push_back('\n');
            }
            out.taint = argumentTaint();
            out.layers = argumentLayers();
            out.setting = argumentSetting();
            charge(out, frame, line);
            return out;
        }
        if (name == "printf") {
            Value out;
            std::size_t first = at + 1;
            if (first < fields.size() && fields[first].text == "-v" && first + 2 < fields.size()) {
                const std::string target = fields[first + 1].text;
                std::vector<std::string> rest(arguments.begin() + 3, arguments.end());
                Value assigned;
                assigned.text = formatPrintf(fields[first + 2].text, rest, limits_.valueBytes);
                assigned.taint = argumentTaint() | kConstructed;
                variables_[target] = assigned;
                return {};
            }
            if (first < fields.size() && fields[first].text == "--") {
                ++first;
            }
            if (first < fields.size()) {
                std::vector<std::string> rest;
                for (std::size_t i = first + 1; i < fields.size(); ++i) {
                    rest.push_back(fields[i].text);
                }
                out.text = formatPrintf(fields[first].text, rest, limits_.valueBytes);
            }
            out.taint = argumentTaint();
            if (out.text.find_first_of("\\%") == std::string::npos && first < fields.size() &&
                out.text != fields[first].text) {
                out.taint |= kConstructed;
            }
            out.layers = argumentLayers();
            out.setting = argumentSetting();
            charge(out, frame, line);
            return out;
        }
        if (name == "cat" || name == "tac") {
            bool anyFile = false;
            Value out;
            for (const auto& argument : arguments) {
                if (argument == "-" || argument.starts_with("-")) {
                    continue;
                }
                anyFile = true;
                if (const Value* saved = savedFile(argument)) {
                    append(out, *saved, frame, line);
                } else {
                    out.taint |= kUnknown;
                }
            }
            return anyFile ? out : input;
        }
        if (name == "tr") {
            bool remove = false;
            bool complement = false;
            std::vector<std::string> sets;
            for (const auto& argument : arguments) {
                if (argument.size() > 1 && argument[0] == '-' && sets.empty() &&
                    argument.find_first_not_of("dcCs", 1) == std::string::npos) {
                    remove = remove || argument.find('d') != std::string::npos;
                    complement = complement || argument.find_first_of("cC") != std::string::npos;
                    continue;
                }
                sets.push_back(argument);
            }
            Value out = input;
            if (sets.empty() || (!remove && sets.size() < 2)) {
                return out;
            }
            out.text = translate(input.text, sets[0], remove ? "" : sets[1], remove, complement);
            out.taint |= kConstructed;
            if (!remove) {
                // A character map (rot13 and the like) is an encoding: what comes out was hidden.
                out.taint |= kDecoded;
                core::DecodedLayer layer{"tr", out.text.substr(0, limits_.layerText)};
                if (out.layers.size() < 16) {
                    out.layers.push_back(layer);
                }
                trace_.decodedTexts.push_back(std::move(layer));
            }
            charge(out, frame, line);
            return out;
        }
        if (name == "rev") {
            Value out = input;
            out.text = reverseLines(input.text);
            out.taint |= kConstructed | kDecoded;
            out.layers.push_back({"rev", out.text.substr(0, limits_.layerText)});
            trace_.decodedTexts.push_back(out.layers.back());
            charge(out, frame, line);
            return out;
        }
        if (name == "base64" || name == "gbase64") {
            if (hasFlag(arguments, "--decode") || hasShortFlag(arguments, 'd') ||
                hasShortFlag(arguments, 'D')) {
                Value encoded = input;
                for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
                    if (arguments[i] == "-i" || arguments[i] == "--input") {
                        if (const Value* saved = savedFile(arguments[i + 1])) {
                            encoded = *saved;
                        }
                    }
                }
                return decoded(encoded, decodeBase64Lenient(encoded.text, limits_.valueBytes),
                               "base64", frame, line);
            }
            Value out;
            out.taint = kUnknown;
            return out;
        }
        if (name == "base32") {
            if (hasFlag(arguments, "--decode") || hasShortFlag(arguments, 'd')) {
                Value out;
                out.taint = kDecoded | kUnknown | (input.taint & (kDownloaded | kSetting));
                return out;
            }
            return {};
        }
        if (name == "openssl") {
            const bool decode = hasFlag(arguments, "-d") || hasFlag(arguments, "-decode");
            const bool base64 = hasFlag(arguments, "base64") || hasFlag(arguments, "-base64") ||
                                hasFlag(arguments, "-a") || hasFlag(arguments, "-A");
            const bool cipher =
                !arguments.empty() && (arguments[0] == "enc" || arguments[0].starts_with("aes") ||
                                       arguments[0].starts_with("des") || arguments[0] == "base64");
            if (decode && base64 &&
                (arguments.empty() || arguments[0] == "base64" || arguments.size() <= 4 ||
                 !cipher ||
                 std::none_of(arguments.begin(), arguments.end(), [](const std::string& a) {
                     return a.starts_with("-aes") || a.starts_with("-des") || a.starts_with("-k") ||
                            a.starts_with("-pass");
                 }))) {
                return decoded(input, decodeBase64Lenient(input.text, limits_.valueBytes), "base64",
                               frame, line);
            }
            if (decode && cipher) {
                Value out;
                out.taint = kDecoded | kUnknown | (input.taint & (kDownloaded | kSetting));
                out.layers = input.layers;
                return out;
            }
            return {};
        }
        if (name == "xxd") {
            if (hasShortFlag(arguments, 'r')) {
                if (hasShortFlag(arguments, 'p') || hasFlag(arguments, "-ps") ||
                    hasFlag(arguments, "-plain")) {
                    return decoded(input, decodeHexPlain(input.text, limits_.valueBytes), "hex",
                                   frame, line);
                }
                Value out;
                out.taint = kDecoded | kUnknown | (input.taint & (kDownloaded | kSetting));
                return out;
            }
            Value out;
            out.taint = kUnknown;
            return out;
        }
        if (name == "gunzip" || name == "zcat" || name == "gzcat" || name == "uncompress" ||
            (name == "gzip" &&
             (hasShortFlag(arguments, 'd') || hasFlag(arguments, "--decompress"))) ||
            (name == "zlib-flate" && hasFlag(arguments, "-uncompress"))) {
            return decoded(input, inflate(input.text, limits_.valueBytes), "gzip", frame, line);
        }
        if (name == "bunzip2" || name == "unxz" || name == "xzcat" || name == "bzcat" ||
            ((name == "bzip2" || name == "xz" || name == "lzma") && hasShortFlag(arguments, 'd'))) {
            Value out;
            out.taint = kDecoded | kUnknown | (input.taint & (kDownloaded | kSetting));
            out.layers = input.layers;
            return out;
        }
        if (isShell(name)) {
            std::size_t i = at + 1;
            bool readStdin = false;
            while (i < fields.size()) {
                const std::string& option = fields[i].text;
                if (option == "-c" ||
                    (option.size() > 1 && option[0] == '-' && option[1] != '-' &&
                     option.find('c') != std::string::npos &&
                     option.find_first_not_of("cexlivuo", 1) == std::string::npos)) {
                    if (i + 1 < fields.size()) {
                        Value code = fields[i + 1];
                        Frame inner = frame;
                        inner.positional.assign(fields.begin() + static_cast<std::ptrdiff_t>(i) + 2,
                                                fields.end());
                        execute(ExecEvent::Sink::shellCode, source, code, "", inner, line);
                    }
                    return {};
                }
                if (option == "-s") {
                    readStdin = true;
                    break;
                }
                if (option == "-o" || option == "+o") {
                    i += 2;
                    continue;
                }
                if ((option.starts_with("-") || option.starts_with("+")) && option.size() > 1) {
                    ++i;
                    continue;
                }
                break;
            }
            if (!readStdin && i < fields.size() && fields[i].text != "-" &&
                fields[i].text != "/dev/stdin") {
                const std::string path = fields[i].text;
                const Value* saved = savedFile(path);
                Value code = saved != nullptr ? *saved : Value();
                if (saved == nullptr) {
                    code.taint = kUnknown;
                }
                Frame inner = frame;
                inner.positional.assign(fields.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                        fields.end());
                execute(ExecEvent::Sink::scriptFile, source, code, path, inner, line);
                return {};
            }
            if (hasInput) {
                execute(ExecEvent::Sink::shellInput, source, input, "", frame, line);
            }
            return {};
        }
        if (name == "eval") {
            Value code;
            for (std::size_t i = at + 1; i < fields.size(); ++i) {
                if (i > at + 1) {
                    code.text.push_back(' ');
                }
                code.text += fields[i].text;
                code.taint |= fields[i].taint;
            }
            code.layers = argumentLayers();
            code.setting = argumentSetting();
            if (fields.size() == at + 2) {
                code.soleVariable = fields[at + 1].soleVariable;
                code.soleVariableDefined = fields[at + 1].soleVariableDefined;
            }
            execute(ExecEvent::Sink::eval, source, code, "", frame, line);
            return {};
        }
        if (name == "source" || name == ".") {
            if (arguments.empty()) {
                return {};
            }
            const std::string& path = arguments[0];
            if (path == "/dev/stdin" || path == "-") {
                execute(ExecEvent::Sink::source, source, input, "", frame, line);
                return {};
            }
            const Value* saved = savedFile(path);
            Value code = saved != nullptr ? *saved : Value();
            if (saved == nullptr) {
                code.taint = kUnknown;
            }
            execute(saved != nullptr ? ExecEvent::Sink::source : ExecEvent::Sink::scriptFile,
                    source, code, path, frame, line);
            return {};
        }
        if (name == "osascript") {
            Value code;
            bool any = false;
            for (std::size_t i = at + 1; i + 1 < fields.size(); ++i) {
                if (fields[i].text == "-e") {
                    if (any) {
                        code.text.push_back('\n');
                    }
                    code.text += fields[i + 1].text;
                    code.taint |= fields[i + 1].taint;
                    any = true;
                }
            }
            if (!any) {
                code = hasInput ? input : Value();
            }
            execute(ExecEvent::Sink::osascript, source, code, "", frame, line);
            runAppleScriptShells(code, frame, line, source);
            return {};
        }
        if (isInterpreter(name)) {
            for (std::size_t i = at + 1; i + 1 < fields.size(); ++i) {
                const std::string& option = fields[i].text;
                if (option == "-c" || option == "-e" || option == "-E" || option == "--eval" ||
                    option == "-r") {
                    execute(ExecEvent::Sink::interpreter, source, fields[i + 1], "", frame, line);
                    return {};
                }
            }
            bool script = false;
            for (std::size_t i = at + 1; i < fields.size(); ++i) {
                if (!fields[i].text.starts_with("-")) {
                    script = true;
                    break;
                }
            }
            if (!script && hasInput && (!input.text.empty() || input.taint != 0)) {
                execute(ExecEvent::Sink::interpreter, source, input, "", frame, line);
            }
            return {};
        }
        if (name == "curl") {
            for (std::size_t i = 0; i < arguments.size(); ++i) {
                const std::string& option = arguments[i];
                if ((option == "-o" || option == "--output") && i + 1 < arguments.size()) {
                    if (arguments[i + 1] != "-") {
                        saveDownload(arguments[i + 1], frame, line, "curl");
                        return {};
                    }
                } else if (option == "-O" || option == "--remote-name" ||
                           (option.size() > 2 && option[0] == '-' && option[1] != '-' &&
                            option.back() == 'O')) {
                    const std::string file = urlFileName(arguments);
                    if (!file.empty()) {
                        saveDownload(file, frame, line, "curl");
                        return {};
                    }
                } else if (option.size() > 2 && option[0] == '-' && option[1] != '-' &&
                           option.back() == 'o' && i + 1 < arguments.size() &&
                           arguments[i + 1] != "-") {
                    saveDownload(arguments[i + 1], frame, line, "curl");
                    return {};
                }
            }
            Value out;
            out.taint = kDownloaded | kUnknown;
            return out;
        }
        if (name == "wget") {
            for (std::size_t i = 0; i < arguments.size(); ++i) {
                const std::string& option = arguments[i];
                std::string target;
                if ((option == "-O" || option == "--output-document") && i + 1 < arguments.size()) {
                    target = arguments[i + 1];
                } else if (option.starts_with("--output-document=")) {
                    target = option.substr(18);
                } else if (option.size() > 2 && option[0] == '-' && option[1] != '-' &&
                           option.find('O') != std::string::npos) {
                    const std::string after = option.substr(option.find('O') + 1);
                    target =
                        !after.empty() ? after : (i + 1 < arguments.size() ? arguments[i + 1] : "");
                }
                if (!target.empty()) {
                    if (target == "-") {
                        Value out;
                        out.taint = kDownloaded | kUnknown;
                        return out;
                    }
                    saveDownload(target, frame, line, "wget");
                    return {};
                }
            }
            const std::string file = urlFileName(arguments);
            if (!file.empty()) {
                saveDownload(file, frame, line, "wget");
            }
            return {};
        }
        if (name == "export" || name == "declare" || name == "typeset" || name == "local" ||
            name == "readonly") {
            for (std::size_t i = at + 1; i < fields.size(); ++i) {
                const std::string& text = fields[i].text;
                const std::size_t equals = text.find('=');
                if (text.starts_with("-") || equals == std::string::npos || equals == 0) {
                    continue;
                }
                Value value = fields[i];
                value.text = text.substr(equals + 1);
                value.soleVariable.clear();
                variables_[text.substr(0, equals)] = std::move(value);
            }
            return {};
        }
        if (name == "which" || name == "whence" || name == "type" ||
            (name == "command" && hasFlag(arguments, "-v"))) {
            // Where a tool would be found: "$(which bash)" names a shell as plainly as "bash".
            Value out;
            for (const auto& argument : arguments) {
                if (!argument.starts_with("-")) {
                    out.text += "/usr/bin/" + std::string(commandBaseName(argument)) + "\n";
                }
            }
            out.taint = kUnknown;
            return out;
        }
        if (name == "cd" || name == "pushd") {
            // Scripts are run from where the script went: "cd dir; ./x.sh" runs dir/x.sh.
            std::string target;
            for (const auto& argument : arguments) {
                if (!argument.starts_with("-")) {
                    target = argument;
                    break;
                }
            }
            if (target.empty() || target == "-" || target.starts_with("~")) {
                directory_.clear();
            } else if (target.starts_with("/") || directory_.empty()) {
                directory_ = target;
            } else {
                directory_ += "/" + target;
            }
            return {};
        }
        if (name == "unset") {
            for (const auto& argument : arguments) {
                if (!argument.starts_with("-")) {
                    variables_.erase(argument);
                    functions_.erase(argument);
                }
            }
            return {};
        }
        if (name == "read") {
            for (const auto& argument : arguments) {
                if (!argument.starts_with("-")) {
                    Value value = input;
                    const std::size_t newline = value.text.find('\n');
                    if (newline != std::string::npos) {
                        value.text.resize(newline);
                    }
                    variables_[argument] = std::move(value);
                    break;
                }
            }
            return {};
        }
        if (name == "set") {
            for (std::size_t i = at + 1; i < fields.size(); ++i) {
                if (fields[i].text == "--") {
                    frame.positional.assign(fields.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                            fields.end());
                    break;
                }
            }
            return {};
        }
        if (name == "shift") {
            if (!frame.positional.empty()) {
                frame.positional.erase(frame.positional.begin());
            }
            return {};
        }
        if (name == "tee") {
            for (const auto& argument : arguments) {
                if (argument.starts_with("-")) {
                    continue;
                }
                WriteEvent event;
                event.path = argument;
                event.append = hasShortFlag(arguments, 'a');
                event.content = input;
                event.via = "tee";
                event.context = frame.context;
                event.context.line = lineFor(frame, line);
                trace_.writes.push_back(std::move(event));
                files_[fileKey(argument)] = input;
            }
            return input;
        }
        if (name == "cp" || name == "mv" || name == "ln" || name == "install" || name == "ditto" ||
            name == "rsync") {
            std::vector<std::string> operands;
            for (const auto& argument : arguments) {
                if (!argument.starts_with("-")) {
                    operands.push_back(argument);
                }
            }
            if (operands.size() >= 2) {
                const Value* saved = savedFile(operands.front());
                WriteEvent event;
                event.path = operands.back();
                if (saved != nullptr) {
                    event.content = *saved;
                    files_[fileKey(operands.back())] = *saved;
                } else {
                    event.content.taint = kUnknown;
                }
                event.via = name;
                event.context = frame.context;
                event.context.line = lineFor(frame, line);
                trace_.writes.push_back(std::move(event));
            }
            return {};
        }
        if (name == "xargs" || name == "find") {
            // The command they run is a command of the script too.
            std::size_t i = at + 1;
            if (name == "find") {
                while (i < fields.size() && fields[i].text != "-exec" &&
                       fields[i].text != "-execdir" && fields[i].text != "-ok") {
                    ++i;
                }
                ++i;
            } else {
                while (i < fields.size() && fields[i].text.starts_with("-")) {
                    const std::string& option = fields[i].text;
                    i += (option == "-I" || option == "-n" || option == "-P" || option == "-L" ||
                          option == "-d" || option == "-E")
                             ? 2
                             : 1;
                }
            }
            if (i < fields.size()) {
                std::vector<Value> rest(fields.begin() + static_cast<std::ptrdiff_t>(i),
                                        fields.end());
                while (!rest.empty() && (rest.back().text == ";" || rest.back().text == "+" ||
                                         rest.back().text == "{}")) {
                    rest.pop_back();
                }
                if (!rest.empty()) {
                    Value empty;
                    dispatch(rest, 0, command, frame, empty, name == "xargs", source);
                }
            }
            Value out;
            out.taint = kUnknown;
            return out;
        }
        if (name == "open") {
            for (const auto& argument : arguments) {
                if (const Value* saved = savedFile(argument);
                    saved != nullptr && (saved->taint & kDownloaded) != 0) {
                    execute(ExecEvent::Sink::scriptFile, source, *saved, argument, frame, line);
                }
            }
            return {};
        }
        if (nameValue.text.find('/') != std::string::npos || savedFile(nameValue.text) != nullptr) {
            // A program run by its path: a saved download, or a script of the project.
            const Value* saved = savedFile(nameValue.text);
            Value code = saved != nullptr ? *saved : Value();
            if (saved == nullptr) {
                code.taint = kUnknown;
            }
            Frame inner = frame;
            inner.positional.assign(fields.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                                    fields.end());
            execute(ExecEvent::Sink::scriptFile, source, code, nameValue.text, inner, line);
            return {};
        }
        Value out;
        if (isTextFilter(name)) {
            out.taint = input.taint | kUnknown;
            out.layers = input.layers;
            out.setting = input.setting;
            if (name == "cat" || name == "head" || name == "tail") {
                out.text = input.text;
            }
        } else {
            out.taint = kUnknown;
        }
        return out;
    }

    // AppleScript's `do shell script "..."` hands its string to sh.
    void runAppleScriptShells(const Value& code, Frame& frame, std::uint32_t line,
                              const std::string& source) {
        static constexpr std::string_view kMarker = "do shell script";
        std::size_t at = 0;
        int count = 0;
        while ((at = code.text.find(kMarker, at)) != std::string::npos && count < 64) {
            at += kMarker.size();
            while (at < code.text.size() && code.text[at] == ' ') {
                ++at;
            }
            if (at >= code.text.size() || code.text[at] != '"') {
                continue;
            }
            std::string script;
            ++at;
            while (at < code.text.size() && code.text[at] != '"') {
                if (code.text[at] == '\\' && at + 1 < code.text.size()) {
                    ++at;
                }
                script.push_back(code.text[at++]);
            }
            Value inner = code;
            inner.text = std::move(script);
            execute(ExecEvent::Sink::shellCode, source, inner, "", frame, line);
            ++count;
        }
    }

    const Limits& limits_;
    Trace& trace_;
    std::unordered_map<std::string, Value> variables_;
    std::unordered_map<std::string, std::shared_ptr<Script>> functions_;
    std::unordered_map<std::string, Value> files_;
    std::string directory_;  // where `cd` went; empty for where the script started
    std::vector<std::shared_ptr<ParseResult>> keepAlive_;
    std::size_t steps_ = 0;
    std::size_t bytes_ = 0;
    int nesting_ = 0;
    int callDepth_ = 0;
    int processFiles_ = 0;
    bool stepsOut_ = false;
    bool bytesOut_ = false;
    bool nestingOut_ = false;
};

}  // namespace

Trace ShellEvaluator::evaluate(std::string_view script, const Environment& environment,
                               const Limits& limits, std::uint32_t firstLine) {
    Trace trace;
    Evaluator evaluator(environment, limits, trace);
    evaluator.runTop(script, firstLine);
    return trace;
}

}  // namespace quillon::analysis::shell
