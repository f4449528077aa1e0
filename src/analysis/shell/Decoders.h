#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The data transforms the shell evaluator follows, each a pure function of its input: what
// `base64 -D`, `xxd -r -p`, `gunzip`, `rev`, `tr`, `printf` and `echo -e` would print. No
// process is started. Outputs are capped at `limit` bytes; `truncated` says when one was.
namespace quillon::analysis::shell {

struct Decoded {
    std::string bytes;
    bool ok = true;          // the input was in the encoding (or near enough for the tool)
    bool truncated = false;  // the output reached the limit
};

// As base64 -D / -d and openssl base64 -d read it: white space skipped, missing padding
// tolerated, the URL-safe alphabet accepted; stops at the first other character.
Decoded decodeBase64Lenient(std::string_view text, std::size_t limit);
// As xxd -r -p reads it: pairs of hex digits, anything else skipped.
Decoded decodeHexPlain(std::string_view text, std::size_t limit);
// gzip or zlib streams (gunzip, gzip -d, zcat), with the output capped: a bomb stops there.
Decoded inflate(std::string_view bytes, std::size_t limit);
// rev: every line reversed byte by byte.
std::string reverseLines(std::string_view text);
// tr SET1 SET2, tr -d SET, with ranges (a-z), escapes (\n, \\, \NNN) and [:classes:].
std::string translate(std::string_view text, std::string_view from, std::string_view to,
                      bool remove, bool complement);
// Escapes of echo -e and printf's %b and format: \n \t \\ \xHH \NNN \0NNN \a \b \e \f \r \v;
// `stop` is set by \c.
std::string interpretEscapes(std::string_view text, bool octalNeedsZero, bool* stop);
// printf FORMAT ARGS... with %s %b %c %d %i %u %x %X %o %%, flags and widths; the format is
// reused while arguments remain, as printf does.
std::string formatPrintf(std::string_view format, const std::vector<std::string>& arguments,
                         std::size_t limit);

// Whether text looks like encoded data worth decoding: a run of base64 or hex of at least
// `minimum` characters.
bool looksBase64(std::string_view text, std::size_t minimum);
bool looksHex(std::string_view text, std::size_t minimum);
// Share of printable ASCII (and white space) among the bytes; 0 for empty text.
double printableShare(std::string_view bytes);

}  // namespace quillon::analysis::shell
