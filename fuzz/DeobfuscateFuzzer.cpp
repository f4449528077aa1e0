// The indexed substitution against the plain algorithm, and the whole reconstruction, on any
// script.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "detectors/xcodespy/VariableSubstitution.h"
#include "detectors/xcodespy/XcodeSpyScanner.h"
#include "platform/Regex.h"
#include "platform/TextFile.h"
#include "support/ReferenceSubstitution.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillon;
    const std::string script =
        platform::decodeText(std::string_view(reinterpret_cast<const char*>(data), size));
    static const auto assignment =
        platform::Regex::compile(R"re(\b([a-zA-Z_][a-zA-Z0-9_]*)\s*=\s*['"]([^'"]*)['"])re");
    std::vector<std::pair<std::string, std::string>> table;
    for (const auto& match : assignment->findAll(script)) {
        const std::string name(*match.group(script, 1));
        const std::string value(match.group(script, 2).value_or(""));
        auto found =
            std::find_if(table.begin(), table.end(), [&](auto& e) { return e.first == name; });
        if (found == table.end()) {
            table.emplace_back(name, value);
        } else {
            found->second = value;
        }
    }
    // A small limit reaches the cut-off often.
    for (const std::size_t limit : {script.size() + 64, script.size() * 16 + 4096}) {
        const auto expected = detectors::testing::referenceSubstitution(script, table, limit);
        const auto actual = detectors::xcodespy::substituteVariables(script, table, limit);
        if (actual.text != expected.text || actual.passes != expected.passes ||
            actual.limited != expected.limited) {
            std::abort();
        }
    }
    static const detectors::xcodespy::XcodeSpyScanner scanner;
    const std::string reconstructed = scanner.deobfuscate(script);
    if (reconstructed.size() >
        detectors::xcodespy::XcodeSpyScanner::reconstructionLimit(script.size())) {
        std::abort();
    }
    return 0;
}
