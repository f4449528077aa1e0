#include "detectors/buildscripts/BuildScriptRules.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <unordered_set>

#include "analysis/shell/Decoders.h"
#include "platform/TextEscapes.h"

namespace quillon::detectors::buildscripts {

using analysis::shell::CommandEvent;
using analysis::shell::EventContext;
using analysis::shell::ExecEvent;
using analysis::shell::Trace;
using core::Finding;
using core::Severity;

const std::vector<Rule>& rules() {
    static const std::vector<Rule> kRules = {
        {ids::kDecodedDataExecuted, Severity::critical, "Decoded data executed by a shell",
         "The script decodes hidden data (hex, base64, gzip, reversed or translated text) and "
         "runs the result. Obfuscation has no honest use in a build script: this is how XCSSET "
         "hides its loader in build phases.",
         "T1027"},
        {ids::kDownloadedContentExecuted, Severity::critical, "Downloaded content executed",
         "The script fetches content from the network and runs it: piped into a shell, "
         "substituted into eval or sh -c, or saved and then run. Whoever controls the server "
         "runs code on every machine that builds the project.",
         "T1105"},
        {ids::kDecodedPayloadWritten, Severity::critical, "Decoded payload written to disk",
         "The script decodes hidden data and saves it as a file, and what it saved would, once "
         "run, download and run code, persist or do the other things these rules look for. A "
         "later phase, a hook or a launch agent can run it where this script does not.",
         "T1027"},
        {ids::kRemoteShell, Severity::critical, "Shell connected to a remote host",
         "The script joins a shell's input and output to a network connection (bash's "
         "/dev/tcp, nc -e, socat exec, a named pipe through nc): whoever listens at the other "
         "end types commands on the machine that builds. XcodeSpy's payload is such a shell.",
         "T1059.004"},
        {ids::kSilencedDetached, Severity::low, "Execution detached and silenced",
         "Commands run in the background with their output discarded, so the build log shows "
         "nothing. Malware does this to stay unnoticed; it adds weight to other findings and "
         "never decides alone.",
         "T1564"},
        {ids::kKnownInfrastructure, Severity::critical,
         "Publicly reported XCSSET infrastructure contacted",
         "The script names a host that public reports attribute to XCSSET's command-and-control "
         "servers. Those hosts rotate, so their absence proves nothing.",
         "T1071.001"},
        {ids::kPersistence, Severity::high, "Persistence written",
         "The script installs something that outlives the build: a launch agent or daemon, "
         "lines in a shell start-up file, an encoded payload in the defaults database, a git "
         "hook or a cron job.",
         "T1543.001"},
        {ids::kOtherProjects, Severity::high, "Other Xcode projects modified",
         "The script searches for Xcode projects and edits them in place: the way XCSSET "
         "spreads from one project to every other project on the machine.",
         "T1195.001"},
        {ids::kDefenceTampering, Severity::high, "Defences tampered with",
         "The script removes quarantine marks, resets privacy permissions, disables Gatekeeper, "
         "stops security tools or looks up XProtect.",
         "T1562.001"},
        {ids::kSettingExecuted, Severity::critical, "Build setting run as a script",
         "A build phase, rule or legacy target runs the value of a build setting as shell code. "
         "Xcode exports settings to scripts, so a payload can hide in a made-up setting where "
         "nobody reads it.",
         "T1027"},
        {ids::kUndefinedSetting, Severity::medium,
         "Script runs a build setting that is not defined",
         "The script runs a variable as code that neither the project nor the script defines. "
         "It may be the remains of a removed injection, or a payload supplied from elsewhere.",
         ""},
        {ids::kEncodedSetting, Severity::medium, "Build setting holds an encoded script",
         "A build setting holds a long encoded value that decodes to shell commands, and nothing "
         "in the project uses it yet.",
         "T1027"},
        {ids::kObfuscatedCommand, Severity::high, "Obfuscated command reconstructed",
         "The name of a command was assembled at run time (from short variables, escape codes, "
         "printf or tr) so that it does not appear in the text. XcodeSpy hides its commands "
         "this way.",
         "T1027.010"},
        {ids::kBudgetExhausted, Severity::medium, "Analysis gave up on a script",
         "Following the script went past the analysis's limits: nesting, decoding depth, size "
         "or steps. An honest build script never needs that much; treat what could not be read "
         "as suspect.",
         "T1027"},
    };
    return kRules;
}

const Rule& rule(std::string_view id) {
    for (const auto& entry : rules()) {
        if (entry.id == id) {
            return entry;
        }
    }
    return rules().front();
}

const std::vector<std::string_view>& knownXcssetDomains() {
    static const std::vector<std::string_view> kDomains = {
        "bulknames.ru",   "castlenet.ru",   "chaoping.ru",   "devapple.ru",   "gigacells.ru",
        "itoyads.ru",     "rigglejoy.ru",   "rutornet.ru",   "sigmate.ru",    "vivatads.ru",
        "apscdn.ru",      "melodyapps.ru",  "mobilecdn.ru",  "regstats.ru",   "gurumades.ru",
        "kinksdoc.ru",    "melindas.ru",    "trixmate.ru",   "figmasol.ru",   "gizmodoc.ru",
        "cdntor.ru",      "checkcdn.ru",    "cdcache.ru",    "applecdn.ru",   "flowcdn.ru",
        "elasticdns.ru",  "rublenet.ru",    "fixmates.ru",   "digichat.ru",   "diggimax.ru",
        "figmastars.ru",  "bulksec.ru",     "adobetrix.ru",  "figmacat.ru",   "cdnroute.ru",
        "sigmanow.ru",    "mdscache.ru",    "trinitysol.ru", "verifysign.ru", "digitalcdn.ru",
        "windsecure.ru",  "adobecdn.ru",    "netplanaps.ru", "accapple.ru",   "cdnglobal.ru",
        "amzndev.in",     "amzndev.ru",     "googlenets.ru", "netcdndev.in",  "whitead.in",
        "whiteads.ru",    "adschecks.ru",   "adsmobi.ru",    "amdcdn.ru",     "amznprod.in",
        "appledisk.ru",   "appledns.ru",    "applehosts.ru", "cdnamz.in",     "cdnamz.ru",
        "cdnapple.in",    "chromeads.ru",   "devnetaps.ru",  "dnsapple.ru",   "dnsrelays.ru",
        "explorecdn.ru",  "icloudsnet.ru",  "netcdnamz.ru",  "networkads.in", "superdocs.ru",
        "adobestats.com", "icloudserv.com", "nodeline.xyz",  "linebrand.xyz", "mantrucks.xyz",
        "sidelink.xyz",   "monotel.xyz",    "statsmag.com",
    };
    return kDomains;
}

namespace {

bool isHostChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-';
}

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool containsFolded(std::string_view text, std::string_view needle) {
    return lowered(text).find(needle) != std::string::npos;
}

}  // namespace

std::string_view findKnownDomain(std::string_view text) {
    if (text.find('.') == std::string_view::npos) {
        return {};
    }
    const std::string folded = lowered(text);
    for (const std::string_view domain : knownXcssetDomains()) {
        std::size_t at = 0;
        while ((at = folded.find(domain, at)) != std::string::npos) {
            const std::size_t end = at + domain.size();
            const bool startsHost = at == 0 || !isHostChar(folded[at - 1]);
            const bool endsHost =
                end >= folded.size() ||
                !(isHostChar(folded[end]) ||
                  (folded[end] == '.' && end + 1 < folded.size() && isHostChar(folded[end + 1])));
            if (startsHost && endsHost) {
                return domain;
            }
            at = end;
        }
    }
    return {};
}

namespace {

bool isSensitiveCommand(std::string_view name) {
    static const std::unordered_set<std::string_view> kNames = {
        "sh",      "bash",  "zsh",           "dash",     "ksh",     "eval",
        "source",  ".",     "curl",          "wget",     "nc",      "ncat",
        "netcat",  "socat", "base64",        "xxd",      "openssl", "gunzip",
        "gzip",    "zcat",  "osascript",     "python",   "python3", "perl",
        "ruby",    "node",  "launchctl",     "defaults", "xattr",   "tccutil",
        "spctl",   "chmod", "security",      "sqlite3",  "scp",     "sftp",
        "ftp",     "rev",   "screencapture", "crontab",  "killall", "pkill",
        "csrutil", "open",  "dscl",          "sudo",     "nohup"};
    return kNames.contains(name);
}

// What code assembled from variables has no business running.
bool isStronglySensitive(std::string_view name) {
    static const std::unordered_set<std::string_view> kNames = {
        "sh",      "bash",      "zsh",  "dash",      "ksh",    "eval",    "source", ".",
        "curl",    "wget",      "nc",   "ncat",      "netcat", "socat",   "base64", "xxd",
        "openssl", "gunzip",    "zcat", "osascript", "python", "python3", "perl",   "ruby",
        "node",    "launchctl", "scp",  "sftp",      "ftp",    "crontab"};
    return kNames.contains(name);
}

bool isNetworkCommand(std::string_view name) {
    return name == "curl" || name == "wget" || name == "nc" || name == "ncat" || name == "netcat" ||
           name == "socat" || name == "scp" || name == "sftp" || name == "ftp";
}

std::string firstLine(std::string_view text) {
    std::string_view trimmed = text;
    while (!trimmed.empty() && (trimmed.front() == '\n' || trimmed.front() == ' ')) {
        trimmed.remove_prefix(1);
    }
    const std::size_t newline = trimmed.find('\n');
    return platform::cutUtf8(trimmed.substr(0, newline), 160);
}

std::string describeLayers(const std::vector<core::DecodedLayer>& layers) {
    std::vector<std::string> methods;
    for (const auto& layer : layers) {
        if (layer.method == "ansi-c") {
            continue;
        }
        if (!methods.empty() && methods.back().starts_with(layer.method)) {
            // Count repeats: "base64 x4".
            const std::size_t times = methods.back().find(" x");
            const int count =
                times == std::string::npos ? 1 : std::stoi(methods.back().substr(times + 2));
            methods.back() = layer.method + " x" + std::to_string(count + 1);
            continue;
        }
        methods.push_back(layer.method);
    }
    std::string out;
    for (std::size_t i = 0; i < methods.size(); ++i) {
        out += (i == 0 ? "" : ", then ") + methods[i];
    }
    return out;
}

std::string sinkName(const ExecEvent& event) {
    switch (event.sink) {
        case ExecEvent::Sink::eval:
            return "eval";
        case ExecEvent::Sink::source:
            return "source";
        case ExecEvent::Sink::osascript:
            return "osascript";
        case ExecEvent::Sink::interpreter:
            return "an interpreter";
        case ExecEvent::Sink::scriptFile:
            return "running the file " + event.path;
        case ExecEvent::Sink::shellCode:
            return "sh -c";
        case ExecEvent::Sink::shellInput:
            return "a shell reading its input";
    }
    return "a shell";
}

class Judge {
  public:
    Judge(const Trace& trace, const ScriptOrigin& origin) : trace_(trace), origin_(origin) {}

    std::vector<Finding> run() {
        const bool downloads =
            std::any_of(trace_.commands.begin(), trace_.commands.end(),
                        [](const CommandEvent& c) { return isNetworkCommand(c.name); });
        for (const auto& exec : trace_.execs) {
            judgeExec(exec);
        }
        for (const auto& command : trace_.commands) {
            judgeCommand(command, downloads);
        }
        for (const auto& write : trace_.writes) {
            judgeWrite(write);
        }
        judgeOtherProjects();
        judgeKnownInfrastructure();
        for (const auto& budget : trace_.budgets) {
            const bool obfuscation =
                budget.what == "depth" || budget.what == "nesting" || budget.what == "call depth";
            add(ids::kBudgetExhausted, obfuscation ? Severity::high : Severity::medium,
                "The analysis stopped at its " + budget.what +
                    " limit; what lies beyond was not read" +
                    (obfuscation ? ", and code nested this deep is obfuscation." : "."),
                evidenceOf(budget.context, ""), budget.context);
        }
        // Detached and silenced execution only adds weight to something else.
        const bool weighty = std::any_of(findings_.begin(), findings_.end(), [](const Finding& f) {
            return f.severity >= Severity::medium;
        });
        if (weighty) {
            for (const auto& exec : trace_.execs) {
                if (exec.context.detached && exec.context.silenced) {
                    add(ids::kSilencedDetached, Severity::low,
                        "It runs " + sinkName(exec) +
                            " in the background with its output discarded, hidden from the "
                            "build log.",
                        evidenceOf(exec.context, exec.command), exec.context);
                    break;
                }
            }
        }
        return std::move(findings_);
    }

  private:
    bool developer() const { return origin_.runner == Runner::developerScript; }

    Severity weigh(Severity severity) const {
        // Nothing in the project runs a developer's own script: only obfuscation and known
        // infrastructure stay threats there.
        if (developer() && severity > Severity::medium) {
            return Severity::medium;
        }
        return severity;
    }

    static std::string evidenceOf(const EventContext& context, std::string_view fallback) {
        return platform::cutUtf8(context.statement.empty() ? fallback : context.statement, 400);
    }

    void add(std::string_view id, Severity severity, std::string message, std::string evidence,
             const EventContext& context, std::vector<core::DecodedLayer> layers = {}) {
        const std::string key = std::string(id) + '\x1f' + evidence;
        if (const auto known = seen_.find(key); known != seen_.end()) {
            // The same statement again, deeper in its own decoded code: keep the longer chain,
            // which explains more.
            Finding& earlier = findings_[known->second];
            if (layers.size() > earlier.layers.size()) {
                earlier.layers.clear();
                for (auto& layer : layers) {
                    if (earlier.layers.size() < 8 &&
                        (layer.method != "ansi-c" || layers.size() == 1)) {
                        earlier.layers.push_back(std::move(layer));
                    }
                }
                earlier.message = std::move(message);
                if (severity >= Severity::high) {
                    earlier.message += imitation();
                }
            }
            return;
        }
        seen_.emplace(key, findings_.size());
        const Rule& definition = rule(id);
        Finding finding;
        finding.ruleId = std::string(id);
        finding.severity = severity;
        finding.title = std::string(definition.title);
        finding.location = origin_.location;
        if (!origin_.fixedLine && context.line > 0) {
            finding.location.line = context.line;
        }
        if (!context.setting.empty() && finding.location.containerKind != "build setting") {
            message += " The code comes from the build setting " + context.setting + ".";
        }
        if (severity >= Severity::high) {
            message += imitation();
        }
        finding.message = std::move(message);
        finding.evidence = std::move(evidence);
        if (layers.empty()) {
            layers = context.layers;
        }
        for (auto& layer : layers) {
            if (layer.method == "ansi-c" && layers.size() > 1) {
                continue;
            }
            finding.layers.push_back(layer);
            if (finding.layers.size() >= 8) {
                break;
            }
        }
        finding.remediation = origin_.remedy;
        if (id == ids::kDecodedDataExecuted || id == ids::kDownloadedContentExecuted) {
            finding.remediation += "; do not run the decoded or downloaded command";
        }
        if (!finding.remediation.empty()) {
            finding.remediation += ".";
        }
        finding.fingerprint = core::computeFingerprint(finding);
        findings_.push_back(std::move(finding));
    }

    std::string imitation() const {
        const std::string& name = origin_.phaseName;
        if (origin_.runner != Runner::buildPhase) {
            return {};
        }
        if (name.starts_with("[CP]") || name.starts_with("[CP-User]")) {
            return " The phase is named '" + name +
                   "' as CocoaPods names its phases, but CocoaPods does nothing like this.";
        }
        static const char* const kHarmless[] = {"Run Script",
                                                "Compile Code Assets",
                                                "Build Target Dependencies",
                                                "Copy Bundle Resources",
                                                "Compile Sources",
                                                "Link Binary With Libraries",
                                                "Embed Frameworks",
                                                "Process Resources"};
        for (const char* harmless : kHarmless) {
            if (name == harmless) {
                return " The phase carries the harmless-looking name '" + name + "'.";
            }
        }
        return {};
    }

    void judgeExec(const ExecEvent& exec) {
        const auto& code = exec.code;
        const bool runsCode =
            exec.sink != ExecEvent::Sink::scriptFile || !code.text.empty() || code.taint != 0;
        if (!runsCode) {
            return;
        }
        if ((code.taint & analysis::shell::kDecoded) != 0) {
            std::vector<core::DecodedLayer> chain = exec.context.layers;
            for (const auto& layer : code.layers) {
                if (std::find(chain.begin(), chain.end(), layer) == chain.end()) {
                    chain.push_back(layer);
                }
            }
            const std::string methods = describeLayers(chain);
            std::string message = "The script decodes data" +
                                  (methods.empty() ? std::string() : " (" + methods + ")") +
                                  " and runs the result with " + sinkName(exec) + ".";
            if (!code.text.empty()) {
                message += " It decodes to: \"" + firstLine(code.text) + "\".";
            } else {
                message += " What it decodes to could not be worked out.";
            }
            add(ids::kDecodedDataExecuted, Severity::critical, std::move(message),
                evidenceOf(exec.context, exec.command), exec.context, std::move(chain));
        }
        if ((code.taint & analysis::shell::kDownloaded) != 0) {
            add(ids::kDownloadedContentExecuted, weigh(Severity::critical),
                (exec.sink == ExecEvent::Sink::scriptFile
                     ? "The script saves a download as " + exec.path + " and then runs it."
                     : "The script runs what it downloads, with " + sinkName(exec) + ".") +
                    (developer() ? " Nothing in the project runs this script, so it is reported "
                                   "for review, not as a threat."
                                 : ""),
                evidenceOf(exec.context, exec.command), exec.context);
        }
        if (exec.sink == ExecEvent::Sink::osascript &&
            (containsFolded(code.text, "login item") ||
             containsFolded(code.text, "launchagents"))) {
            add(ids::kPersistence, weigh(Severity::high),
                "It makes itself a login item (or a launch agent) through AppleScript.",
                evidenceOf(exec.context, exec.command), exec.context);
        }
        if (!code.setting.empty() && exec.context.setting.empty()) {
            settingRuns_.push_back(&exec);
        }
        if ((exec.sink == ExecEvent::Sink::shellCode || exec.sink == ExecEvent::Sink::eval) &&
            !code.soleVariable.empty() && !code.soleVariableDefined && code.setting.empty()) {
            add(ids::kUndefinedSetting, weigh(Severity::medium),
                "It runs $" + code.soleVariable +
                    " as code, and neither the project nor the "
                    "script defines " +
                    code.soleVariable + ".",
                evidenceOf(exec.context, exec.command), exec.context);
        }
    }

    void judgeCommand(const CommandEvent& command, bool downloads) {
        const std::string& name = command.name;
        const auto& arguments = command.arguments;
        const EventContext& context = command.context;
        const std::string evidence = evidenceOf(context, command.source);
        auto argumentsMention = [&](std::string_view needle) {
            return std::any_of(arguments.begin(), arguments.end(),
                               [&](const std::string& a) { return containsFolded(a, needle); });
        };
        // Hidden means the name is nowhere in the script as written: a tool run by a path put
        // together from a setting ("${PODS_ROOT}/x/python3") hides nothing.
        const bool hidden = origin_.scriptText.find(name) == std::string_view::npos;
        if (hidden && ((command.nameConstructed && isSensitiveCommand(name)) ||
                       (context.viaConstructedCode && isStronglySensitive(name)))) {
            add(ids::kObfuscatedCommand, Severity::high,
                std::string(command.nameConstructed
                                ? "The command name '" + name + "' is assembled at run time"
                                : "The command '" + name +
                                      "' runs inside code assembled at run "
                                      "time") +
                    ", so it never appears in the script's text.",
                evidence, context);
        }
        if (name == "launchctl" && !arguments.empty() &&
            (arguments[0] == "load" || arguments[0] == "bootstrap" || arguments[0] == "enable" ||
             arguments[0] == "submit" || arguments[0] == "kickstart")) {
            add(ids::kPersistence, weigh(Severity::high),
                "It registers a launch agent or daemon with launchctl " + arguments[0] + ".",
                evidence, context);
        }
        if (name == "defaults" && !arguments.empty() && arguments[0] == "write") {
            const bool launchPlist =
                argumentsMention("launchagents") || argumentsMention("launchdaemons");
            const bool encoded =
                std::any_of(arguments.begin(), arguments.end(), [](const std::string& a) {
                    return analysis::shell::looksBase64(a, 64) || analysis::shell::looksHex(a, 64);
                });
            if (launchPlist || encoded) {
                add(ids::kPersistence, weigh(Severity::high),
                    launchPlist ? "It writes a launch agent's property list with defaults write."
                                : "It stores an encoded payload in the defaults database.",
                    evidence, context);
            }
        }
        if (name == "crontab" && !arguments.empty() && arguments[0] != "-l") {
            add(ids::kPersistence, weigh(Severity::high), "It installs a cron job.", evidence,
                context);
        }
        if ((name == "PlistBuddy" || name == "plutil") &&
            (argumentsMention("launchagents") || argumentsMention("launchdaemons"))) {
            add(ids::kPersistence, weigh(Severity::high),
                "It edits a launch agent's property list.", evidence, context);
        }
        if (name == "xattr" && argumentsMention("com.apple.quarantine") &&
            std::any_of(arguments.begin(), arguments.end(), [](const std::string& a) {
                return a.starts_with("-") && a.find_first_of("dc") != std::string::npos;
            })) {
            add(ids::kDefenceTampering, weigh(downloads ? Severity::high : Severity::medium),
                std::string("It removes the quarantine mark that makes Gatekeeper check a file") +
                    (downloads ? ", in a script that downloads." : "."),
                evidence, context);
        }
        if (name == "tccutil" && !arguments.empty() && arguments[0] == "reset") {
            add(ids::kDefenceTampering, weigh(Severity::high),
                "It resets privacy permissions (TCC) so that they can be granted again unseen.",
                evidence, context);
        }
        if (name == "spctl" &&
            (argumentsMention("--master-disable") || argumentsMention("--global-disable") ||
             argumentsMention("--add") || argumentsMention("--disable"))) {
            add(ids::kDefenceTampering, weigh(Severity::high), "It weakens Gatekeeper with spctl.",
                evidence, context);
        }
        if (name == "csrutil" && argumentsMention("disable")) {
            add(ids::kDefenceTampering, weigh(Severity::high),
                "It disables System Integrity Protection.", evidence, context);
        }
        if (name == "killall" || name == "pkill" || name == "kill" || name == "launchctl") {
            static const char* const kTools[] = {
                "littlesnitch", "little snitch", "lulu",   "blockblock", "knockknock",  "oversight",
                "reikey",       "xprotect",      "mrt",    "santa",      "osquery",     "falcon",
                "sentinel",     "jamf",          "sophos", "avast",      "malwarebytes"};
            for (const auto& argument : arguments) {
                const std::string folded = lowered(argument);
                const bool tool =
                    std::any_of(std::begin(kTools), std::end(kTools), [&](const char* t) {
                        return folded == t ||
                               folded.find(std::string(t) + "agent") != std::string::npos ||
                               (std::string_view(t).size() > 4 &&
                                folded.find(t) != std::string::npos);
                    });
                if (tool && (name != "launchctl" ||
                             (!arguments.empty() &&
                              (arguments[0] == "unload" || arguments[0] == "bootout" ||
                               arguments[0] == "remove" || arguments[0] == "disable")))) {
                    add(ids::kDefenceTampering, weigh(Severity::high),
                        "It stops the security tool '" + argument + "'.", evidence, context);
                    break;
                }
            }
        }
        if (name != "echo" && name != "printf" && argumentsMention("xprotect")) {
            add(ids::kDefenceTampering, weigh(Severity::high),
                "It looks up XProtect, Apple's malware signatures, to learn whether it is known.",
                evidence, context);
        }
        if ((name == "nc" || name == "ncat" || name == "netcat") &&
            std::any_of(arguments.begin(), arguments.end(), [](const std::string& a) {
                return a == "-e" || a == "-c" || a.starts_with("--exec") ||
                       a.starts_with("--sh-exec");
            })) {
            add(ids::kRemoteShell, Severity::critical,
                "It hands a program to " + name + " to run for whoever connects.", evidence,
                context);
        }
        if (name == "socat" && (argumentsMention("exec:") || argumentsMention("system:"))) {
            add(ids::kRemoteShell, Severity::critical,
                "It joins a program to a network connection with socat.", evidence, context);
        }
        if (name == "mkfifo") {
            namedPipe_ = &command;
        }
        if ((name == "nc" || name == "ncat" || name == "netcat" || name == "telnet") &&
            namedPipe_ != nullptr) {
            add(ids::kRemoteShell, Severity::critical,
                "It makes a named pipe and passes a shell's input and output through " + name + ".",
                evidence, context);
        }
        if (name == "find" || name == "mdfind" || name == "locate") {
            // Only a search beyond the project reaches other projects: find from the home
            // folder or the root, or the system-wide indexes.
            bool beyond = name != "find";
            if (name == "find") {
                for (const auto& argument : arguments) {
                    if (argument.starts_with("-") && argument != "-") {
                        if (argument == "-H" || argument == "-L" || argument == "-P") {
                            continue;
                        }
                        break;
                    }
                    beyond = beyond || argument.starts_with("~") ||
                             argument.starts_with("${HOME}") || argument.starts_with("$HOME") ||
                             argument == "/" || argument.starts_with("/Users") ||
                             argument.starts_with("/Volumes");
                }
            }
            if (beyond && (argumentsMention("pbxproj") || argumentsMention("xcodeproj") ||
                           argumentsMention("xcworkspace"))) {
                projectSearch_ = &command;
            }
        }
        const bool inPlace =
            ((name == "sed" || name == "gsed") &&
             std::any_of(arguments.begin(), arguments.end(),
                         [](const std::string& a) {
                             return a == "-i" || a.starts_with("-i") || a == "--in-place";
                         })) ||
            ((name == "perl" || name == "ruby") &&
             std::any_of(arguments.begin(), arguments.end(), [](const std::string& a) {
                 return a.size() > 1 && a[0] == '-' && a[1] != '-' &&
                        a.find('i') != std::string::npos;
             }));
        if (inPlace) {
            inPlaceEdit_ = &command;
        }
    }

    void judgeWrite(const analysis::shell::WriteEvent& write) {
        const std::string path = lowered(write.path);
        const std::string evidence = evidenceOf(write.context, write.path);
        judgeWrittenPayload(write, evidence);
        if (path.starts_with("/dev/tcp/") || path.starts_with("/dev/udp/")) {
            add(ids::kRemoteShell, Severity::critical,
                "It joins a descriptor to " + write.path +
                    ", a network connection opened by the shell itself.",
                evidence, write.context);
            return;
        }
        if (path.find("library/launchagents") != std::string::npos ||
            path.find("library/launchdaemons") != std::string::npos) {
            add(ids::kPersistence, weigh(Severity::high),
                "It writes " + write.path + ", a launch agent or daemon that starts on its own.",
                evidence, write.context);
            return;
        }
        static const char* const kStartupFiles[] = {".zshrc",   ".zshenv",     ".zprofile",
                                                    ".zlogin",  ".bashrc",     ".bash_profile",
                                                    ".profile", ".bash_login", ".zshrc_aliases"};
        const std::string_view base = analysis::shell::commandBaseName(path);
        for (const char* startup : kStartupFiles) {
            if (base == startup) {
                add(ids::kPersistence, weigh(Severity::high),
                    "It writes to " + write.path +
                        ", a shell start-up file, so its code runs in "
                        "every new terminal.",
                    evidence, write.context);
                return;
            }
        }
        if (path.find(".git/hooks/") != std::string::npos && !path.ends_with(".sample")) {
            // Projects install their own lint hooks by copying a file they keep; writing a
            // hook's text from the script itself is what an injection does.
            const bool copied = write.via == "cp" || write.via == "mv" || write.via == "ln" ||
                                write.via == "install" || write.via == "ditto" ||
                                write.via == "rsync";
            add(ids::kPersistence, weigh(copied ? Severity::medium : Severity::high),
                "It writes the git hook " + write.path + ", which git runs on its own" +
                    (copied ? ", from a file of the project; check that file." : "."),
                evidence, write.context);
            return;
        }
        if (path.ends_with("project.pbxproj")) {
            pbxprojWrite_ = &write;
        }
    }

    // A decoded payload saved to disk is judged as the script it would be once run: split
    // across phases, one decodes and saves, another (or a hook, or an agent) runs it.
    void judgeWrittenPayload(const analysis::shell::WriteEvent& write,
                             const std::string& evidence) {
        if (nested_ || (write.content.taint & analysis::shell::kDecoded) == 0 ||
            write.content.text.empty() ||
            analysis::shell::printableShare(write.content.text) < 0.9) {
            return;
        }
        analysis::shell::Limits limits;
        limits.steps = 5000;
        limits.bytes = 2u << 20;
        limits.depth = 4;
        const Trace saved =
            analysis::shell::ShellEvaluator::evaluate(write.content.text, {}, limits);
        ScriptOrigin savedOrigin = origin_;
        savedOrigin.scriptText = write.content.text;
        Judge judge(saved, savedOrigin);
        judge.nested_ = true;
        const std::vector<Finding> found = judge.run();
        const auto worst = std::find_if(found.begin(), found.end(), [](const Finding& f) {
            return f.severity >= Severity::high && f.ruleId != ids::kBudgetExhausted;
        });
        if (worst == found.end()) {
            return;
        }
        std::vector<core::DecodedLayer> layers = write.context.layers;
        layers.insert(layers.end(), write.content.layers.begin(), write.content.layers.end());
        add(ids::kDecodedPayloadWritten, weigh(Severity::critical),
            "It decodes a payload and saves it as " + write.path + "; once run, it would: " +
                worst->title + " (" + worst->message.substr(0, 200) + ").",
            evidence, write.context, std::move(layers));
    }

    void judgeOtherProjects() {
        if (projectSearch_ == nullptr || (inPlaceEdit_ == nullptr && pbxprojWrite_ == nullptr)) {
            return;
        }
        const EventContext& context =
            inPlaceEdit_ != nullptr ? inPlaceEdit_->context : projectSearch_->context;
        add(ids::kOtherProjects, weigh(Severity::high),
            "It searches for Xcode projects (" + projectSearch_->name +
                ") and edits project files "
                "in place (" +
                (inPlaceEdit_ != nullptr ? inPlaceEdit_->name : std::string("a write")) + ").",
            evidenceOf(context, projectSearch_->source), context);
    }

    void judgeKnownInfrastructure() {
        auto check = [&](std::string_view text, const EventContext& context,
                         std::string_view fallback) {
            const std::string_view domain = findKnownDomain(text);
            if (domain.empty()) {
                return false;
            }
            add(ids::kKnownInfrastructure, Severity::critical,
                "It names " + std::string(domain) +
                    ", a host that public reports attribute to XCSSET.",
                evidenceOf(context, fallback), context);
            return true;
        };
        for (const auto& command : trace_.commands) {
            for (const auto& argument : command.arguments) {
                if (check(argument, command.context, command.source)) {
                    return;
                }
            }
        }
        EventContext top;
        for (const auto& exec : trace_.execs) {
            if (check(exec.code.text, exec.context, exec.command)) {
                return;
            }
        }
        for (const auto& layer : trace_.decodedTexts) {
            if (check(layer.text, top, "")) {
                return;
            }
        }
    }

  private:
    const Trace& trace_;
    const ScriptOrigin& origin_;
    std::vector<Finding> findings_;
    std::map<std::string, std::size_t> seen_;
    std::vector<const ExecEvent*> settingRuns_;
    bool nested_ = false;  // judging a saved payload: its own saved payloads are not followed
    const CommandEvent* projectSearch_ = nullptr;
    const CommandEvent* namedPipe_ = nullptr;
    const CommandEvent* inPlaceEdit_ = nullptr;
    const analysis::shell::WriteEvent* pbxprojWrite_ = nullptr;

  public:
    const std::vector<const ExecEvent*>& settingRuns() const { return settingRuns_; }
};

}  // namespace

std::vector<Finding> judgeTrace(const Trace& trace, const ScriptOrigin& origin) {
    Judge judge(trace, origin);
    std::vector<Finding> findings = judge.run();
    // A setting's value run as code: critical when that code did something a rule calls a
    // threat (or decodes), medium when it looks harmless.
    std::set<std::string> reported;
    for (const ExecEvent* exec : judge.settingRuns()) {
        const std::string& setting = exec->code.setting;
        if (!reported.insert(setting).second) {
            continue;
        }
        const bool threat =
            (exec->code.taint & analysis::shell::kDecoded) != 0 ||
            std::any_of(findings.begin(), findings.end(), [&](const Finding& f) {
                return f.severity >= Severity::high &&
                       f.message.find("build setting " + setting + ".") != std::string::npos;
            });
        Finding finding;
        finding.ruleId = std::string(ids::kSettingExecuted);
        finding.severity = threat ? Severity::critical : Severity::medium;
        if (origin.runner == Runner::developerScript && finding.severity > Severity::medium) {
            finding.severity = Severity::medium;
        }
        finding.title = std::string(rule(ids::kSettingExecuted).title);
        finding.location = origin.location;
        if (!origin.fixedLine && exec->context.line > 0) {
            finding.location.line = exec->context.line;
        }
        finding.message =
            "It runs the value of the build setting " + setting + " as shell code" +
            (threat ? ", and that code " +
                          std::string((exec->code.taint & analysis::shell::kDecoded) != 0
                                          ? "is decoded data."
                                          : "does what the other findings describe.")
                    : ". Review what the setting holds: \"" + firstLine(exec->code.text) + "\".");
        finding.evidence = platform::cutUtf8(
            exec->context.statement.empty() ? exec->command : exec->context.statement, 400);
        finding.layers.push_back(
            {"build setting " + setting, platform::cutUtf8(exec->code.text, 4096)});
        finding.remediation = origin.remedy + ", and the build setting " + setting +
                              " from every configuration that defines it.";
        finding.fingerprint = core::computeFingerprint(finding);
        findings.push_back(std::move(finding));
    }
    return findings;
}

}  // namespace quillon::detectors::buildscripts
