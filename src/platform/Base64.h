#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillon::platform {

// Strict RFC 4648 base64 with the standard alphabet and "=" padding: the length must be a
// multiple of 4, and "=" may stand only in the last one or two places (two only as "==").
// No white space or other characters are tolerated. Returns the decoded bytes, or nothing.
// Unused bits of the last group are not checked, as common strict decoders do not.
std::optional<std::string> decodeBase64(std::string_view text);

std::string encodeBase64(std::string_view bytes);

}  // namespace quillon::platform
