#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/pbxproj/ProjectModel.h"

namespace quillon::formats::xcconfig {

struct Include {
    std::string path;       // as written, relative to the including file's folder unless absolute
    bool optional = false;  // #include?
    std::uint32_t line = 0;
};

// One .xcconfig file: its settings in order (a conditional KEY[sdk=...] keeps its bare key) and
// its #include lines. `//` starts a comment, as Xcode reads it. Linear; never throws.
struct XcconfigFile {
    std::vector<pbxproj::BuildSetting> settings;
    std::vector<Include> includes;
};

XcconfigFile parseXcconfig(std::string_view text);

}  // namespace quillon::formats::xcconfig
