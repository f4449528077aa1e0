#pragma once

#include <optional>
#include <string>

namespace quillon::platform {

// Reads a whole regular file as text and returns it as UTF-8, or nothing when the file cannot
// be read: it is missing, not a regular file (directory, FIFO, socket, device), or an I/O error
// occurred. Symbolic links are followed. Never blocks on a special file: the open is
// non-blocking and the type is checked on the opened descriptor. Thread-safe.
//
// Encoding: a byte-order mark selects UTF-8, UTF-16 LE/BE or UTF-32 LE/BE (the mark is not
// part of the text). Without one, valid UTF-8 is taken as UTF-8 and anything else as
// ISO-8859-1, so that a single stray byte cannot hide a script from the detectors; malformed
// UTF-16/32 units become U+FFFD for the same reason.
std::optional<std::string> readTextFile(const std::string& path);

// Decodes file bytes by the rules above; exposed for the fuzzers and tests.
std::string decodeText(std::string_view bytes);

}  // namespace quillon::platform
