#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::formats::xcscheme {

// A pre- or post-action script of a scheme: Xcode runs it around the scheme's build, test,
// launch, profile, analyze or archive action.
struct SchemeScript {
    std::string title;
    std::string shell;   // shellToRun, empty for the default
    std::string script;  // scriptText
    std::string stage;   // "BuildAction pre-action", "LaunchAction post-action", ...
    std::uint32_t line = 0;
};

struct SchemeFile {
    std::vector<SchemeScript> scripts;
    std::string error;  // the XML reader's complaint; scripts before it are kept
};

// Reads every ExecutionAction script of an .xcscheme document. Iterative over the element tree,
// so any nesting depth is safe. Thread-safe.
SchemeFile parseScheme(std::string_view text);

}  // namespace quillon::formats::xcscheme
