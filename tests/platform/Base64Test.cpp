#include "platform/Base64.h"

#include <gtest/gtest.h>

namespace quillon::platform {
namespace {

TEST(Base64, KnownVectorsRoundTrip) {
    // RFC 4648, section 10.
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        SCOPED_TRACE(encoded);
        EXPECT_EQ(encodeBase64(plain), encoded);
        EXPECT_EQ(decodeBase64(encoded), plain);
    }
}

TEST(Base64, RejectsMalformedInput) {
    for (const char* bad :
         {"Zg=", "Zm9", "Z===", "====", "Zg==Zg==", "Zm=v", "Zm9v\n", "Zm 9v", "Zm9-", "=Zm9"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(decodeBase64(bad).has_value());
    }
}

}  // namespace
}  // namespace quillon::platform
