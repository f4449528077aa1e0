// The project-file reader and model, the .xcconfig reader and the scheme reader on any bytes:
// no crash, no unbounded recursion, and a model whose every target came from the text.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "formats/pbxproj/ProjectModel.h"
#include "formats/xcconfig/XcconfigFile.h"
#include "formats/xcscheme/SchemeFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillon::formats;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const pbxproj::ProjectModel model = pbxproj::readProjectModel(text);
    for (const auto& target : model.targets) {
        if (!target.id.empty() && text.find(target.id) == std::string_view::npos) {
            std::abort();
        }
    }
    (void)xcconfig::parseXcconfig(text);
    (void)xcscheme::parseScheme(text);
    return 0;
}
