// Every hand-written matcher against ICU on any text: same matches, groups and order.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

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
    return 0;
}
