#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/Finding.h"

// Follows literal data through a shell script without running anything: values of variables
// and build settings, the output of echo / printf / here-documents, decoders and transforms
// (base64, hex, gzip, rev, tr), functions, command substitutions, and the sinks that would run
// what reaches them (a shell on standard input or -c, eval, source, osascript, interpreters
// given code). What a sink would run is read and followed again, to a fixed depth.
//
// The result is a trace of what the script would do, as typed events; the build-script rules
// judge the trace. Every budget that runs out is an event of its own.
namespace quillon::analysis::shell {

// Where a value's text came from.
enum Taint : unsigned {
    kDecoded = 1u << 0,      // passed through a decoder
    kDownloaded = 1u << 1,   // produced by a network fetch
    kConstructed = 1u << 2,  // assembled at run time: variables, $'\x..', printf, tr
    kUnknown = 1u << 3,      // holds parts the analysis cannot know
    kSetting = 1u << 4,      // came from a build setting
};

struct Value {
    std::string text;
    unsigned taint = 0;
    std::vector<core::DecodedLayer> layers;  // the decoding chain that produced it
    std::string setting;                     // the build setting it came from, if any
    // When the whole value is one variable's expansion: its name, and whether it was defined.
    std::string soleVariable;
    bool soleVariableDefined = false;
};

// The context every event carries: how deep in executed code it sits, the decoding chain of
// that code, and how that code was reached.
struct EventContext {
    std::uint32_t line = 0;  // in the analysed script (nested code reports its sink's line)
    int depth = 0;           // 0 for the script itself; +1 per executed code
    bool detached = false;   // backgrounded (&, nohup, setsid)
    bool silenced = false;   // its output goes to /dev/null
    bool viaConstructedCode = false;  // inside code that was assembled at run time
    bool viaDecodedCode = false;
    bool viaDownloadedCode = false;
    std::vector<core::DecodedLayer> layers;
    std::string setting;    // inside code that came from this build setting
    std::string statement;  // the outermost statement of the analysed script it belongs to
};

struct CommandEvent {
    std::string name;  // resolved, without its folder
    std::vector<std::string> arguments;
    std::string source;            // the command as written
    bool nameConstructed = false;  // the name was assembled at run time
    unsigned inputTaint = 0;       // taint of its standard input
    EventContext context;
};

struct ExecEvent {
    enum class Sink { shellInput, shellCode, eval, source, scriptFile, osascript, interpreter };
    Sink sink = Sink::shellInput;
    std::string command;  // the sink as written
    Value code;           // what it would run
    std::string path;     // for scriptFile and source of a file
    EventContext context;
};

struct WriteEvent {
    std::string path;
    bool append = false;
    Value content;
    std::string via;  // "redirect", "tee", "cp", "mv", "curl", ...
    EventContext context;
};

struct BudgetEvent {
    std::string what;  // "depth", "steps", "bytes", "value size", "decompressed size", "parse"
    EventContext context;
};

struct Trace {
    std::vector<CommandEvent> commands;
    std::vector<ExecEvent> execs;
    std::vector<WriteEvent> writes;
    std::vector<BudgetEvent> budgets;
    std::vector<core::DecodedLayer> decodedTexts;  // every decoder output, for look-ups
    std::set<std::string> referencedVariables;
    std::string parseError;
    std::uint32_t parseErrorLine = 0;
    std::size_t stepsUsed = 0;
    std::size_t bytesUsed = 0;
};

// Build settings and other variables known before the script starts.
using Environment = std::map<std::string, Value, std::less<>>;

struct Limits {
    std::size_t steps = 20'000;         // commands evaluated
    std::size_t bytes = 8u << 20;       // text produced in values
    std::size_t valueBytes = 1u << 20;  // one value
    int depth = 8;                      // executed code within executed code
    int callDepth = 24;                 // nested function calls
    std::size_t layerText = 4096;       // text kept per decoded layer
};

class ShellEvaluator {
  public:
    // Evaluates `script` (numbered from `firstLine`) in `environment`. Never throws for any
    // input; stays within `limits`.
    static Trace evaluate(std::string_view script, const Environment& environment,
                          const Limits& limits, std::uint32_t firstLine = 1);
};

// The command name without its folder: "/usr/bin/curl" gives "curl".
std::string_view commandBaseName(std::string_view name);

}  // namespace quillon::analysis::shell
