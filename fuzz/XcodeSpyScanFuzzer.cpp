// The XcodeSpy detector on any project file content: no crash, no hang, no runaway memory.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "detectors/xcodespy/XcodeSpyScanner.h"
#include "platform/TextFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillon;
    const std::string text =
        platform::decodeText(std::string_view(reinterpret_cast<const char*>(data), size));
    static const detectors::xcodespy::XcodeSpyScanner scanner;
    const auto result = scanner.scanText(platform::FileURL("/p/project.pbxproj", false), text);
    if ((result.riskScore != 0 && result.riskScore != 100) || result.findings.size() % 5 != 0) {
        std::abort();
    }
    return 0;
}
