#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/FileScanner.h"
#include "platform/Log.h"
#include "platform/TextFile.h"

namespace quillon::detectors::xcodespy {

// Detector for XcodeSpy-style malware: build-phase scripts of a project file whose commands
// hide behind short quoted shell variables put together again and handed to eval. Each
// `shellScript = "...";` entry is unescaped, reconstructed by substituting its own
// assignments, and judged; a file with a malicious block scores 100, any other 0.
//
// Logs to subsystem "com.yourapp.security", category "XcodeSpyScanner". No mutable state: any
// thread may call any operation, also several at once on one instance.
class XcodeSpyScanner final : public core::FileScanner {
  public:
    static constexpr std::string_view kCommandAndControlDomain = "cdnroute.ru";
    static constexpr std::array<std::string_view, 18> kSuspiciousCommands = {
        "curl",      "wget",  "bash",          "sh",        "eval",   "osascript",
        "launchctl", "nc",    "mkfifo",        "/dev/tcp/", "chmod",  "http://",
        "https://",  "/tmp/", "/private/tmp/", "echo",      "mdbcmd", kCommandAndControlDomain};
    static constexpr std::array<std::string_view, 20> kMaliciousPatterns = {
        "/dev/tcp/",
        "0>&1",
        "bash &>",
        "curl",
        "wget",
        "osascript",
        "launchctl",
        "/private/tmp/.tag",
        "/tmp/.tag",
        "mdbcmd",
        kCommandAndControlDomain,
        "nc ",
        "mkfifo",
        "chmod +x",
        "http://",
        "https://",
        "echo",
        "eval",
        "bash",
        "sh"};

    // A reconstruction never grows past this many bytes for a script of `scriptSize` bytes;
    // ordinary scripts stay far below it.
    static std::size_t reconstructionLimit(std::size_t scriptSize) {
        return 16 * scriptSize + (std::size_t{1} << 20);
    }

    XcodeSpyScanner();

    bool canScan(const platform::FileURL& file) const override;
    // canScan without a scanner: the files it reads.
    static bool reads(const platform::FileURL& file);
    core::ScanResult scan(const platform::FileURL& file) const override;
    // The scan of a file's text, once read: its blocks, their judgement and the result.
    core::ScanResult scanText(const platform::FileURL& file, std::string_view text) const;
    // What the scan needs of a text another scan of the cycle read (its blocks), so that it
    // does not read the file again; made for any file it reads (see platform::SharedReads).
    static platform::Digest digest(std::string_view text);

    // The project file's escaping of one block partly undone: \" and \\\" become ", \\n a line
    // feed.
    static std::string unescape(std::string_view blockText);
    // The script with its own quoted assignments substituted into $name tokens, then cleaned
    // of eval prefixes, quotes and escaped line breaks, and trimmed.
    std::string deobfuscate(std::string_view script) const;

    std::int64_t countSuspiciousCommands(std::string_view text) const;
    bool isObfuscated(std::string_view script) const;
    bool isMalicious(std::string_view script, std::string_view reconstructed) const;

  private:
    // A block's text, or nothing where the match had no script group.
    using Blocks = std::vector<std::optional<std::string_view>>;
    core::ScanResult judgeBlocks(const platform::FileURL& file, const Blocks& blocks) const;

    platform::Logger logger_;
};

}  // namespace quillon::detectors::xcodespy
