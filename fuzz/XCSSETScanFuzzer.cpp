// The XCSSET detector on any file content: no crash, no hang, a score within 0..100.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "detectors/xcsset/XCSSETScanner.h"
#include "platform/TextFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillon;
    const std::string text =
        platform::decodeText(std::string_view(reinterpret_cast<const char*>(data), size));
    const detectors::xcsset::XCSSETScanner scanner(platform::nullOutput());
    for (const char* path : {"/p/App.xcodeproj/project.pbxproj", "/p/Pods/x/run.sh"}) {
        const auto context = scanner.buildContext(platform::FileURL(path, false), text);
        const auto result = scanner.score(context);
        if (result.riskScore < 0 || result.riskScore > 100) {
            std::abort();
        }
        scanner.printReport(result, context);
    }
    return 0;
}
