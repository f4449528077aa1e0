// Every hand-written matcher against ICU on any text: same matches, groups and order; and the
// keyword search against searching each keyword on the text lowered byte by byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/KeywordSet.h"
#include "platform/TextFile.h"
#include "support/MatcherOracle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quillon;
    const std::string text =
        platform::decodeText(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const auto& matcher : detectors::testing::matcherCases()) {
        const auto expected = detectors::testing::describe(matcher.oracle(text), text);
        const auto actual = detectors::testing::describe(matcher.handWritten(text), text);
        if (expected != actual) {
            std::fprintf(stderr, "%s differs\nICU:\n%s\nours:\n%s\n", matcher.name.c_str(),
                         expected.c_str(), actual.c_str());
            std::abort();
        }
    }
    static const std::vector<std::string_view> keywords = {
        "curl",      "bash",      "sh",           "base64",        "echo",
        "chmod +x",  "chmod 777", "http://",      "https://",      "shellscript",
        "runscript", "launchctl", "launchagents", "launchdaemons", "x"};
    static const platform::KeywordSet keywordSet(keywords);
    std::string lowered(text);
    for (char& c : lowered) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
    }
    std::uint64_t expected = 0;
    for (std::size_t k = 0; k < keywords.size(); ++k) {
        if (lowered.find(keywords[k]) != std::string::npos) {
            expected |= std::uint64_t{1} << k;
        }
    }
    if (keywordSet.find(text) != expected) {
        std::fprintf(stderr, "keyword search differs\n");
        std::abort();
    }
    return 0;
}
