#include "analysis/shell/ShellParser.h"

#include "platform/TextEscapes.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quillon::analysis::shell {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

bool isMeta(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ';' || c == '&' || c == '|' ||
           c == '<' || c == '>' || c == '(' || c == ')';
}

bool isNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool isNameChar(char c) {
    return isNameStart(c) || (c >= '0' && c <= '9');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

void appendLiteral(std::vector<WordPart>& parts, char c, bool quoted) {
    if (!parts.empty() && parts.back().kind == WordPart::Kind::literal &&
        parts.back().quoted == quoted) {
        parts.back().text.push_back(c);
        return;
    }
    WordPart part;
    part.kind = WordPart::Kind::literal;
    part.quoted = quoted;
    part.text.push_back(c);
    parts.push_back(std::move(part));
}

// What ends a list: a closing character, or one of a set of reserved words.
struct Terminators {
    char close = 0;         // ')' or '}' (the latter only as a word of its own)
    bool caseItem = false;  // ";;" ends the list
    const char* const* words = nullptr;
};

const char* const kThen[] = {"then", nullptr};
const char* const kIfBody[] = {"elif", "else", "fi", nullptr};
const char* const kFi[] = {"fi", nullptr};
const char* const kDo[] = {"do", nullptr};
const char* const kDone[] = {"done", nullptr};
const char* const kEsac[] = {"esac", nullptr};

class Parser {
  public:
    Parser(std::string_view text, std::uint32_t line, int depth, ParseResult& result)
        : text_(text), line_(line), depth_(depth), result_(result) {}

    std::shared_ptr<Script> parseAll() {
        auto script = parseList({});
        while (!stopped() && at_ < text_.size()) {
            // A stray closer at the top: note it and go on after it.
            fail("unexpected '" + std::string(1, text_[at_]) + "'");
            advance();
            auto more = parseList({});
            for (auto& statement : more->statements) {
                script->statements.push_back(std::move(statement));
            }
        }
        if (!pendingHereDocs_.empty()) {
            readHereDocBodies();
        }
        return script;
    }

  private:
    bool stopped() const { return result_.tooDeep; }
    bool atEnd() const { return at_ >= text_.size() || stopped(); }
    char peek(std::size_t ahead = 0) const {
        return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0';
    }

    void fail(std::string message) {
        if (result_.error.empty()) {
            result_.error = std::move(message);
            result_.errorLine = line_;
        }
    }

    void advance() {
        if (at_ >= text_.size()) {
            return;
        }
        if (text_[at_] == '\n') {
            ++line_;
        }
        ++at_;
    }

    bool enter() {
        if (depth_ >= ShellParser::kMaxDepth) {
            fail("nesting too deep");
            result_.tooDeep = true;
            at_ = text_.size();
            return false;
        }
        ++depth_;
        return true;
    }
    void leave() { --depth_; }

    void skipBlanks() {
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (isBlank(c)) {
                ++at_;
            } else if (c == '\\' && peek(1) == '\n') {
                at_ += 2;
                ++line_;
            } else if (c == '#') {
                while (at_ < text_.size() && text_[at_] != '\n') {
                    ++at_;
                }
            } else {
                return;
            }
        }
    }

    // A line feed as a token: here-document bodies start after it.
    void consumeNewline() {
        advance();
        if (!pendingHereDocs_.empty()) {
            readHereDocBodies();
        }
    }

    void skipLinebreaks() {
        while (!atEnd()) {
            skipBlanks();
            if (peek() == '\n') {
                consumeNewline();
            } else {
                return;
            }
        }
    }

    // The reserved word at the cursor, if the next characters are one standing alone.
    bool atWord(const char* word) const {
        const std::size_t length = std::strlen(word);
        if (text_.substr(at_, length) != word) {
            return false;
        }
        const char after = at_ + length < text_.size() ? text_[at_ + length] : '\0';
        return after == '\0' || isMeta(after);
    }

    bool atTerminator(const Terminators& terminators) const {
        if (atEnd()) {
            return true;
        }
        const char c = peek();
        if (terminators.close == ')' && c == ')') {
            return true;
        }
        if (terminators.close == '}' && c == '}' && atWord("}")) {
            return true;
        }
        if (terminators.caseItem && c == ';' && peek(1) == ';') {
            return true;
        }
        if (terminators.words != nullptr) {
            for (const char* const* word = terminators.words; *word != nullptr; ++word) {
                if (atWord(*word)) {
                    return true;
                }
            }
        }
        return false;
    }

    std::shared_ptr<Script> parseList(const Terminators& terminators) {
        auto script = std::make_shared<Script>();
        while (true) {
            skipBlanks();
            if (atEnd()) {
                break;
            }
            const char c = peek();
            if (c == '\n') {
                consumeNewline();
                continue;
            }
            if (c == ';' && peek(1) != ';') {
                advance();
                continue;
            }
            if (atTerminator(terminators)) {
                break;
            }
            if (c == ')' || (c == ';' && peek(1) == ';')) {
                // A closer of an enclosing construct, or a stray one: the caller decides.
                break;
            }
            const std::size_t before = at_;
            Statement statement = parseStatement();
            if (depth_ == 0 && at_ > before) {
                std::string_view source =
                    text_.substr(before, std::min<std::size_t>(at_ - before, 2000));
                while (!source.empty() && (source.back() == '\n' || source.back() == ' ' ||
                                           source.back() == ';' || source.back() == '\t')) {
                    source.remove_suffix(1);
                }
                statement.source.assign(source);
            }
            if (!statement.pipelines.empty()) {
                script->statements.push_back(std::move(statement));
            }
            if (at_ == before && !atEnd()) {
                fail("unexpected '" + std::string(1, peek()) + "'");
                advance();
            }
        }
        return script;
    }

    Statement parseStatement() {
        Statement statement;
        statement.line = line_;
        while (!atEnd()) {
            Pipeline pipeline = parsePipeline();
            if (pipeline.commands.empty()) {
                break;
            }
            statement.pipelines.push_back(std::move(pipeline));
            skipBlanks();
            if ((peek() == '&' && peek(1) == '&') || (peek() == '|' && peek(1) == '|')) {
                statement.operators.emplace_back(text_.substr(at_, 2));
                at_ += 2;
                skipLinebreaks();
                continue;
            }
            break;
        }
        if (statement.operators.size() >= statement.pipelines.size() &&
            !statement.operators.empty()) {
            statement.operators.pop_back();
        }
        skipBlanks();
        if (peek() == '&' && peek(1) != '&' && peek(1) != '>') {
            statement.background = true;
            advance();
        } else if (peek() == ';' && peek(1) != ';') {
            advance();
        }
        return statement;
    }

    Pipeline parsePipeline() {
        Pipeline pipeline;
        skipBlanks();
        if (peek() == '!' && isMeta(peek(1))) {
            pipeline.negated = true;
            advance();
        }
        while (!atEnd()) {
            skipBlanks();
            const std::size_t before = at_;
            Command command = parseCommand();
            if (at_ == before) {
                break;
            }
            pipeline.commands.push_back(std::move(command));
            skipBlanks();
            if (peek() == '|' && peek(1) != '|') {
                at_ += peek(1) == '&' ? 2 : 1;
                skipLinebreaks();
                continue;
            }
            break;
        }
        return pipeline;
    }

    std::shared_ptr<Script> parseBody(const Terminators& terminators) {
        if (!enter()) {
            return std::make_shared<Script>();
        }
        auto body = parseList(terminators);
        leave();
        return body;
    }

    void expectWord(const char* word) {
        skipLinebreaks();
        if (atWord(word)) {
            at_ += std::strlen(word);
        } else if (!atEnd()) {
            fail(std::string("expected '") + word + "'");
        } else {
            fail(std::string("missing '") + word + "'");
        }
    }

    Command parseCommand() {
        Command command;
        command.line = line_;
        const char c = peek();
        if (c == '(' && peek(1) == '(' && opensArithmetic(at_ + 2)) {
            command.kind = Command::Kind::arithmetic;
            at_ += 2;
            int depth = 0;
            while (at_ < text_.size()) {
                if (text_[at_] == '(') {
                    ++depth;
                } else if (text_[at_] == ')') {
                    if (depth == 0 && peek(1) == ')') {
                        at_ += 2;
                        break;
                    }
                    --depth;
                }
                advance();
            }
        } else if (c == '(') {
            command.kind = Command::Kind::subshell;
            advance();
            command.bodies.push_back(parseBody({')', false, nullptr}));
            if (peek() == ')') {
                advance();
            } else {
                fail("missing ')'");
            }
        } else if (c == '{' && isMeta(peek(1))) {
            command.kind = Command::Kind::group;
            advance();
            command.bodies.push_back(parseBody({'}', false, nullptr}));
            if (peek() == '}') {
                advance();
            } else {
                fail("missing '}'");
            }
        } else if (atWord("if")) {
            command.kind = Command::Kind::ifClause;
            at_ += 2;
            command.bodies.push_back(parseBody({0, false, kThen}));
            expectWord("then");
            command.bodies.push_back(parseBody({0, false, kIfBody}));
            while (!atEnd() && atWord("elif")) {
                at_ += 4;
                command.bodies.push_back(parseBody({0, false, kThen}));
                expectWord("then");
                command.bodies.push_back(parseBody({0, false, kIfBody}));
            }
            if (!atEnd() && atWord("else")) {
                at_ += 4;
                command.bodies.push_back(parseBody({0, false, kFi}));
            }
            expectWord("fi");
        } else if (atWord("while") || atWord("until")) {
            command.kind = Command::Kind::loop;
            at_ += 5;
            command.bodies.push_back(parseBody({0, false, kDo}));
            expectWord("do");
            command.bodies.push_back(parseBody({0, false, kDone}));
            expectWord("done");
        } else if (atWord("for") || atWord("select")) {
            command.kind = Command::Kind::forLoop;
            at_ += atWord("for") ? 3 : 6;
            skipBlanks();
            if (peek() == '(' && peek(1) == '(') {
                Command arithmetic = parseCommand();
                (void)arithmetic;
            } else {
                while (at_ < text_.size() && isNameChar(text_[at_])) {
                    command.name.push_back(text_[at_++]);
                }
                skipBlanks();
                skipNewlinesOnly();
                if (atWord("in")) {
                    at_ += 2;
                    while (!atEnd()) {
                        skipBlanks();
                        const char next = peek();
                        if (next == ';' || next == '\n' || next == '\0' || isMeta(next)) {
                            break;
                        }
                        command.words.push_back(readWord(false));
                    }
                }
            }
            skipBlanks();
            if (peek() == ';') {
                advance();
            }
            skipLinebreaks();
            if (peek() == '{') {
                advance();
                command.bodies.push_back(parseBody({'}', false, nullptr}));
                if (peek() == '}') {
                    advance();
                }
            } else {
                expectWord("do");
                command.bodies.push_back(parseBody({0, false, kDone}));
                expectWord("done");
            }
        } else if (atWord("case")) {
            parseCase(command);
        } else if (atWord("function")) {
            command.kind = Command::Kind::function;
            at_ += 8;
            skipBlanks();
            while (at_ < text_.size() && !isMeta(text_[at_])) {
                command.name.push_back(text_[at_]);
                advance();
            }
            skipBlanks();
            if (peek() == '(' && peek(1) == ')') {
                at_ += 2;
            }
            parseFunctionBody(command);
        } else if (peek() == '[' && peek(1) == '[' && isMeta(peek(2))) {
            command.kind = Command::Kind::test;
            at_ += 2;
            while (!atEnd()) {
                skipBlanks();
                if (peek() == ']' && peek(1) == ']') {
                    at_ += 2;
                    break;
                }
                if (peek() == '\n') {
                    consumeNewline();
                    continue;
                }
                const std::size_t before = at_;
                if (isMeta(peek())) {
                    advance();
                    continue;
                }
                command.words.push_back(readWord(false));
                if (at_ == before) {
                    advance();
                }
            }
        } else {
            parseSimple(command);
            return command;
        }
        parseRedirects(command);
        return command;
    }

    void skipNewlinesOnly() {
        while (peek() == '\n') {
            consumeNewline();
            skipBlanks();
        }
    }

    void parseFunctionBody(Command& command) {
        skipLinebreaks();
        if (atEnd()) {
            fail("missing function body");
            return;
        }
        if (!enter()) {
            return;
        }
        Command body = parseCommand();
        leave();
        auto script = std::make_shared<Script>();
        Statement statement;
        statement.line = body.line;
        Pipeline pipeline;
        pipeline.commands.push_back(std::move(body));
        statement.pipelines.push_back(std::move(pipeline));
        script->statements.push_back(std::move(statement));
        command.bodies.push_back(std::move(script));
    }

    void parseCase(Command& command) {
        command.kind = Command::Kind::caseClause;
        at_ += 4;
        skipBlanks();
        command.words.push_back(readWord(false));
        skipLinebreaks();
        if (atWord("in")) {
            at_ += 2;
        } else {
            fail("expected 'in'");
            return;
        }
        while (!atEnd()) {
            skipLinebreaks();
            if (atWord("esac")) {
                at_ += 4;
                return;
            }
            if (peek() == '(') {
                advance();
            }
            // Patterns up to ')'.
            while (!atEnd() && peek() != ')' && peek() != '\n') {
                skipBlanks();
                if (peek() == '|') {
                    advance();
                    continue;
                }
                if (peek() == ')' || atEnd()) {
                    break;
                }
                const std::size_t before = at_;
                readWord(false);
                if (at_ == before) {
                    advance();
                }
            }
            if (peek() != ')') {
                fail("expected ')' in case");
                return;
            }
            advance();
            command.bodies.push_back(parseBody({0, true, kEsac}));
            if (peek() == ';' && peek(1) == ';') {
                at_ += 2;
                if (peek() == '&') {
                    advance();
                }
            } else if (peek() == ';' && peek(1) == '&') {
                at_ += 2;
            }
        }
        fail("missing 'esac'");
    }

    bool atRedirect() const {
        std::size_t ahead = 0;
        while (isDigit(peek(ahead))) {
            ++ahead;
        }
        const char c = peek(ahead);
        if (c == '<' || c == '>') {
            // <( and >( are process substitutions, words of their own.
            return !(ahead == 0 && peek(1) == '(');
        }
        return ahead == 0 && c == '&' && peek(1) == '>';
    }

    void parseRedirects(Command& command) {
        while (!atEnd()) {
            skipBlanks();
            if (!atRedirect()) {
                return;
            }
            command.redirects.push_back(readRedirect());
        }
    }

    Redirect readRedirect() {
        Redirect redirect;
        std::string digits;
        while (isDigit(peek())) {
            digits.push_back(peek());
            advance();
        }
        if (!digits.empty() && digits.size() < 4) {
            redirect.fd = std::stoi(digits);
        }
        static const char* const kOps[] = {"&>>", "<<<", "<<-", "&>", ">>", ">|",
                                           "<>",  "<<",  ">&",  "<&", "<",  ">"};
        for (const char* op : kOps) {
            const std::size_t length = std::strlen(op);
            if (text_.substr(at_, length) == op) {
                redirect.op = op;
                at_ += length;
                break;
            }
        }
        skipBlanks();
        if (redirect.op == "<<" || redirect.op == "<<-") {
            auto hereDoc = std::make_shared<HereDoc>();
            hereDoc->stripTabs = redirect.op == "<<-";
            const Word delimiter = readWord(false);
            for (const auto& part : delimiter.parts) {
                if (part.kind != WordPart::Kind::literal || part.quoted) {
                    hereDoc->quoted = true;
                }
                hereDoc->delimiter += part.text;
            }
            if (delimiter.source.find('\\') != std::string::npos) {
                hereDoc->quoted = true;
            }
            redirect.target = delimiter;
            redirect.hereDoc = hereDoc;
            pendingHereDocs_.push_back(std::move(hereDoc));
            return redirect;
        }
        redirect.target = readWord(false);
        return redirect;
    }

    void readHereDocBodies() {
        auto pending = std::move(pendingHereDocs_);
        pendingHereDocs_.clear();
        for (auto& hereDoc : pending) {
            const std::uint32_t bodyLine = line_;
            std::string body;
            bool terminated = false;
            while (at_ < text_.size()) {
                std::size_t end = text_.find('\n', at_);
                const bool last = end == std::string_view::npos;
                if (last) {
                    end = text_.size();
                }
                std::string_view row = text_.substr(at_, end - at_);
                at_ = last ? end : end + 1;
                if (!last) {
                    ++line_;
                }
                if (hereDoc->stripTabs) {
                    while (!row.empty() && row.front() == '\t') {
                        row.remove_prefix(1);
                    }
                }
                std::string_view bare = row;
                if (!bare.empty() && bare.back() == '\r') {
                    bare.remove_suffix(1);
                }
                if (bare == hereDoc->delimiter) {
                    terminated = true;
                    break;
                }
                body.append(row);
                body.push_back('\n');
            }
            hereDoc->terminated = terminated;
            if (!terminated) {
                fail("here-document '" + hereDoc->delimiter + "' is not terminated");
            }
            hereDoc->body.line = bodyLine;
            hereDoc->body.source = body;
            if (hereDoc->quoted) {
                WordPart part;
                part.kind = WordPart::Kind::singleQuoted;
                part.text = std::move(body);
                hereDoc->body.parts.push_back(std::move(part));
            } else if (enter()) {
                Parser inner(hereDoc->body.source, bodyLine, depth_, result_);
                inner.readExpandingText(hereDoc->body.parts);
                leave();
            }
        }
    }

    // Here-document text: like double quotes, but quotes are plain characters.
    void readExpandingText(std::vector<WordPart>& parts) {
        while (!atEnd()) {
            const char c = peek();
            if (c == '\\' && (peek(1) == '$' || peek(1) == '`' || peek(1) == '\\')) {
                appendLiteral(parts, peek(1), true);
                at_ += 2;
            } else if (c == '\\' && peek(1) == '\n') {
                at_ += 2;
                ++line_;
            } else if (c == '$') {
                readDollar(parts, true);
            } else if (c == '`') {
                readBackquote(parts, true);
            } else {
                appendLiteral(parts, c, true);
                advance();
            }
        }
    }

    static bool isAssignment(const Word& word, std::string& name, bool& append) {
        if (word.parts.empty() || word.parts[0].kind != WordPart::Kind::literal ||
            word.parts[0].quoted) {
            return false;
        }
        const std::string& text = word.parts[0].text;
        if (text.empty() || !isNameStart(text[0])) {
            return false;
        }
        std::size_t i = 0;
        while (i < text.size() && isNameChar(text[i])) {
            ++i;
        }
        if (i < text.size() && text[i] == '[') {
            const std::size_t close = text.find(']', i);
            if (close == std::string::npos) {
                return false;
            }
            i = close + 1;
        }
        if (i < text.size() && text[i] == '=') {
            name = text.substr(0, text.find_first_of("[="));
            append = false;
            return true;
        }
        if (i + 1 < text.size() && text[i] == '+' && text[i + 1] == '=') {
            name = text.substr(0, text.find_first_of("[+"));
            append = true;
            return true;
        }
        return false;
    }

    void parseSimple(Command& command) {
        command.kind = Command::Kind::simple;
        while (!atEnd()) {
            skipBlanks();
            const char c = peek();
            if (c == '\0' || c == '\n' || c == ';' || c == '|' || c == ')' ||
                (c == '&' && peek(1) != '>')) {
                return;
            }
            if (atRedirect()) {
                command.redirects.push_back(readRedirect());
                continue;
            }
            if (c == '(') {
                if (command.words.size() == 1 && command.assignments.empty() && peek(1) == ')') {
                    // name() body
                    at_ += 2;
                    command.kind = Command::Kind::function;
                    command.name = command.words[0].source;
                    command.words.clear();
                    parseFunctionBody(command);
                    return;
                }
                if (command.words.empty() && command.assignments.empty()) {
                    return;
                }
                fail("unexpected '('");
                advance();
                continue;
            }
            if (command.words.empty() && command.assignments.empty() && c == '}' && atWord("}")) {
                return;
            }
            const std::size_t before = at_;
            Word word = readWord(false);
            if (at_ == before) {
                advance();
                continue;
            }
            std::string name;
            bool append = false;
            if (command.words.empty() && isAssignment(word, name, append)) {
                Assignment assignment;
                assignment.name = name;
                assignment.append = append;
                // Strip "NAME=" (or "NAME+=") from the first part.
                WordPart& first = word.parts[0];
                const std::size_t equals = first.text.find('=');
                first.text.erase(0, equals + 1);
                if (first.text.empty()) {
                    word.parts.erase(word.parts.begin());
                }
                if (word.parts.empty() && peek() == '(') {
                    assignment.isArray = true;
                    advance();
                    while (!atEnd() && peek() != ')') {
                        skipBlanks();
                        if (peek() == '\n') {
                            consumeNewline();
                            continue;
                        }
                        if (peek() == ')') {
                            break;
                        }
                        const std::size_t start = at_;
                        assignment.items.push_back(readWord(false));
                        if (at_ == start) {
                            advance();
                        }
                    }
                    if (peek() == ')') {
                        advance();
                    }
                }
                assignment.value = std::move(word);
                command.assignments.push_back(std::move(assignment));
                continue;
            }
            command.words.push_back(std::move(word));
        }
    }

    Word readWord(bool inBraces) {
        Word word;
        word.line = line_;
        const std::size_t start = at_;
        readWordParts(word.parts, inBraces ? "}" : nullptr, false);
        word.source.assign(text_.substr(start, at_ - start));
        return word;
    }

    // Reads word parts until an unquoted metacharacter, or one of `stops` when given (then
    // blanks are part of the word, as inside ${...}).
    void readWordParts(std::vector<WordPart>& parts, const char* stops, bool quoted) {
        while (!atEnd()) {
            const char c = peek();
            if (stops != nullptr) {
                if (std::strchr(stops, c) != nullptr) {
                    return;
                }
            } else if (isMeta(c)) {
                if ((c == '<' || c == '>') && peek(1) == '(' && parts.empty()) {
                    readProcessSubstitution(parts);
                    continue;
                }
                return;
            }
            if (c == '\\') {
                if (peek(1) == '\n') {
                    at_ += 2;
                    ++line_;
                    continue;
                }
                if (at_ + 1 < text_.size()) {
                    appendLiteral(parts, peek(1), true);
                    at_ += 2;
                } else {
                    advance();
                }
            } else if (c == '\'') {
                readSingleQuoted(parts);
            } else if (c == '"') {
                readDoubleQuoted(parts);
            } else if (c == '$') {
                readDollar(parts, quoted);
            } else if (c == '`') {
                readBackquote(parts, quoted);
            } else {
                appendLiteral(parts, c, quoted);
                advance();
            }
        }
    }

    void readProcessSubstitution(std::vector<WordPart>& parts) {
        at_ += 2;
        WordPart part;
        part.kind = WordPart::Kind::processSubstitution;
        part.text = text_[at_ - 2] == '<' ? "<" : ">";
        part.script = parseBody({')', false, nullptr});
        if (peek() == ')') {
            advance();
        } else {
            fail("missing ')'");
        }
        parts.push_back(std::move(part));
    }

    void readSingleQuoted(std::vector<WordPart>& parts) {
        advance();
        WordPart part;
        part.kind = WordPart::Kind::singleQuoted;
        part.quoted = true;
        const std::size_t close = text_.find('\'', at_);
        const std::size_t end = close == std::string_view::npos ? text_.size() : close;
        for (std::size_t i = at_; i < end; ++i) {
            if (text_[i] == '\n') {
                ++line_;
            }
        }
        part.text.assign(text_.substr(at_, end - at_));
        at_ = end;
        if (close == std::string_view::npos) {
            fail("unterminated single quote");
        } else {
            ++at_;
        }
        parts.push_back(std::move(part));
    }

    void readDoubleQuoted(std::vector<WordPart>& parts) {
        if (!enter()) {
            return;
        }
        advance();
        // An empty "" still makes a (quoted, empty) part.
        WordPart empty;
        empty.kind = WordPart::Kind::literal;
        empty.quoted = true;
        parts.push_back(std::move(empty));
        while (!atEnd() && peek() != '"') {
            const char c = peek();
            if (c == '\\') {
                const char next = peek(1);
                if (next == '\n') {
                    at_ += 2;
                    ++line_;
                } else if (next == '$' || next == '`' || next == '"' || next == '\\') {
                    appendLiteral(parts, next, true);
                    at_ += 2;
                } else {
                    appendLiteral(parts, '\\', true);
                    advance();
                }
            } else if (c == '$') {
                readDollar(parts, true);
            } else if (c == '`') {
                readBackquote(parts, true);
            } else {
                appendLiteral(parts, c, true);
                advance();
            }
        }
        if (peek() == '"') {
            advance();
        } else {
            fail("unterminated double quote");
        }
        leave();
    }

    void readAnsiC(std::vector<WordPart>& parts) {
        at_ += 2;
        WordPart part;
        part.kind = WordPart::Kind::ansiC;
        part.quoted = true;
        std::string& out = part.text;
        while (at_ < text_.size() && text_[at_] != '\'') {
            const char c = text_[at_];
            if (c != '\\' || at_ + 1 >= text_.size()) {
                out.push_back(c);
                advance();
                continue;
            }
            const char e = text_[at_ + 1];
            at_ += 2;
            if (const auto control = platform::controlEscape(e)) {
                out.push_back(*control);
                continue;
            }
            switch (e) {
                case 'e':
                case 'E':
                    out.push_back('\x1b');
                    break;
                case 'c':
                    if (at_ < text_.size()) {
                        out.push_back(static_cast<char>(text_[at_] & 0x1F));
                        ++at_;
                    }
                    break;
                case 'x': {
                    std::uint32_t code = 0;
                    int digits = 0;
                    while (digits < 2 && at_ < text_.size() &&
                           platform::hexDigitValue(text_[at_]) >= 0) {
                        code = code * 16 +
                               static_cast<std::uint32_t>(platform::hexDigitValue(text_[at_++]));
                        ++digits;
                    }
                    if (digits == 0) {
                        out.append("\\x");
                    } else {
                        out.push_back(static_cast<char>(code));
                    }
                    break;
                }
                case 'u':
                case 'U': {
                    const int most = e == 'u' ? 4 : 8;
                    std::uint32_t code = 0;
                    int digits = 0;
                    while (digits < most && at_ < text_.size() &&
                           platform::hexDigitValue(text_[at_]) >= 0) {
                        code = code * 16 +
                               static_cast<std::uint32_t>(platform::hexDigitValue(text_[at_++]));
                        ++digits;
                    }
                    platform::appendUtf8(out, code);
                    break;
                }
                default:
                    if (e >= '0' && e <= '7') {
                        std::uint32_t code = static_cast<std::uint32_t>(e - '0');
                        int digits = 1;
                        while (digits < 3 && at_ < text_.size() && text_[at_] >= '0' &&
                               text_[at_] <= '7') {
                            code = code * 8 + static_cast<std::uint32_t>(text_[at_++] - '0');
                            ++digits;
                        }
                        out.push_back(static_cast<char>(code & 0xFF));
                    } else {
                        out.push_back(e);
                    }
                    break;
            }
        }
        if (at_ < text_.size()) {
            ++at_;
        } else {
            fail("unterminated $'...'");
        }
        parts.push_back(std::move(part));
    }

    void readDollar(std::vector<WordPart>& parts, bool quoted) {
        const char next = peek(1);
        if (next == '\'' && !quoted) {
            readAnsiC(parts);
            return;
        }
        if (next == '"' && !quoted) {
            advance();
            readDoubleQuoted(parts);
            return;
        }
        if (next == '(' && peek(2) == '(') {
            readArithmetic(parts, quoted);
            return;
        }
        if (next == '(') {
            readCommandSubstitution(parts, quoted);
            return;
        }
        if (next == '{') {
            readBraceParameter(parts, quoted);
            return;
        }
        WordPart part;
        part.kind = WordPart::Kind::parameter;
        part.quoted = quoted;
        if (isNameStart(next)) {
            ++at_;
            while (at_ < text_.size() && isNameChar(text_[at_])) {
                part.text.push_back(text_[at_++]);
            }
            parts.push_back(std::move(part));
            return;
        }
        if (isDigit(next) || (next != '\0' && std::strchr("@*#?$!-", next) != nullptr)) {
            part.text.push_back(next);
            at_ += 2;
            parts.push_back(std::move(part));
            return;
        }
        appendLiteral(parts, '$', quoted);
        advance();
    }

    // Whether "((" before `from` opens arithmetic rather than a subshell inside a subshell (or
    // a command substitution starting with one): arithmetic closes with "))". The look is
    // bounded, so that many unclosed openers cannot make the read quadratic.
    bool opensArithmetic(std::size_t from) const {
        const std::size_t limit = std::min(text_.size(), from + 1024);
        int depth = 0;
        for (std::size_t i = from; i < limit; ++i) {
            if (text_[i] == '(') {
                ++depth;
            } else if (text_[i] == ')') {
                if (depth == 0) {
                    return i + 1 < text_.size() && text_[i + 1] == ')';
                }
                --depth;
            }
        }
        return true;
    }

    // "$(" at the cursor: the list up to its ")".
    void readCommandSubstitution(std::vector<WordPart>& parts, bool quoted) {
        at_ += 2;
        WordPart part;
        part.kind = WordPart::Kind::commandSubstitution;
        part.quoted = quoted;
        part.script = parseBody({')', false, nullptr});
        if (peek() == ')') {
            advance();
        } else if (!stopped()) {
            fail("missing ')' of $(");
        }
        parts.push_back(std::move(part));
    }

    void readArithmetic(std::vector<WordPart>& parts, bool quoted) {
        // "$((" may also open a command substitution whose first command is a subshell:
        // "$((cmd) | sh)". Its first closing parenthesis at depth 0 tells them apart.
        if (!opensArithmetic(at_ + 3)) {
            readCommandSubstitution(parts, quoted);
            return;
        }
        at_ += 3;
        WordPart part;
        part.kind = WordPart::Kind::arithmetic;
        part.quoted = quoted;
        int depth = 0;
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '(') {
                ++depth;
            } else if (c == ')') {
                if (depth == 0) {
                    at_ += peek(1) == ')' ? 2 : 1;
                    parts.push_back(std::move(part));
                    return;
                }
                --depth;
            }
            part.text.push_back(c);
            advance();
        }
        fail("unterminated $((");
        parts.push_back(std::move(part));
    }

    void readBraceParameter(std::vector<WordPart>& parts, bool quoted) {
        at_ += 2;
        if (!enter()) {
            return;
        }
        WordPart part;
        part.kind = WordPart::Kind::parameter;
        part.quoted = quoted;
        if (peek() == '#' && peek(1) != '}') {
            part.length = true;
            advance();
        } else if (peek() == '!' && peek(1) != '}') {
            part.indirect = true;
            advance();
        }
        if (isNameStart(peek())) {
            while (at_ < text_.size() && isNameChar(text_[at_])) {
                part.text.push_back(text_[at_++]);
            }
        } else if (isDigit(peek())) {
            while (at_ < text_.size() && isDigit(text_[at_])) {
                part.text.push_back(text_[at_++]);
            }
        } else if (peek() != '\0' && std::strchr("@*#?$!-", peek()) != nullptr) {
            part.text.push_back(peek());
            advance();
        }
        if (peek() == '[') {
            // Array subscripts are read and dropped: the analysis treats arrays as one value.
            int depth = 0;
            while (at_ < text_.size()) {
                const char c = text_[at_];
                advance();
                if (c == '[') {
                    ++depth;
                } else if (c == ']' && --depth == 0) {
                    break;
                }
            }
        }
        static const char* const kOps[] = {":-", ":=", ":?", ":+", "##", "%%", "//", "/#",
                                           "/%", "^^", ",,", "-",  "=",  "?",  "+",  "#",
                                           "%",  "/",  "^",  ",",  ":",  "@"};
        for (const char* op : kOps) {
            const std::size_t length = std::strlen(op);
            if (text_.substr(at_, length) == op) {
                part.op = op;
                at_ += length;
                break;
            }
        }
        if (!part.op.empty()) {
            const bool replace =
                part.op == "/" || part.op == "//" || part.op == "/#" || part.op == "/%";
            readWordParts(part.argument, replace ? "}/" : "}", quoted);
            if (replace && peek() == '/') {
                advance();
                readWordParts(part.replacement, "}", quoted);
            }
        } else {
            // Anything else up to the brace is not understood; keep reading.
            readWordParts(part.argument, "}", quoted);
        }
        if (peek() == '}') {
            advance();
        } else if (!stopped()) {
            fail("missing '}' of ${");
        }
        parts.push_back(std::move(part));
        leave();
    }

    void readBackquote(std::vector<WordPart>& parts, bool quoted) {
        advance();
        std::string inner;
        const std::uint32_t line = line_;
        bool closed = false;
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '`') {
                ++at_;
                closed = true;
                break;
            }
            if (c == '\\' && at_ + 1 < text_.size() &&
                (text_[at_ + 1] == '`' || text_[at_ + 1] == '\\' || text_[at_ + 1] == '$')) {
                inner.push_back(text_[at_ + 1]);
                at_ += 2;
                continue;
            }
            inner.push_back(c);
            advance();
        }
        if (!closed) {
            fail("unterminated backquote");
        }
        WordPart part;
        part.kind = WordPart::Kind::commandSubstitution;
        part.quoted = quoted;
        part.backquoted = true;
        if (enter()) {
            Parser nested(inner, line, depth_, result_);
            part.script = nested.parseAll();
            leave();
        } else {
            part.script = std::make_shared<Script>();
        }
        parts.push_back(std::move(part));
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::uint32_t line_;
    int depth_;
    ParseResult& result_;
    std::vector<std::shared_ptr<HereDoc>> pendingHereDocs_;
};

}  // namespace

ParseResult ShellParser::parse(std::string_view text, std::uint32_t firstLine) {
    ParseResult result;
    Parser parser(text, firstLine, 0, result);
    result.script = parser.parseAll();
    return result;
}

}  // namespace quillon::analysis::shell
