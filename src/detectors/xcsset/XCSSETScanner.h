#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/FileScanner.h"
#include "platform/LineWriter.h"
#include "platform/TextFile.h"

namespace quillon::detectors::xcsset {

// Detector for XCSSET-style malware: shell commands and base64 payloads planted in build
// settings, project files and shell scripts. Scores each file by a fixed rule table and prints
// a report of every file it could read to its line writer.
//
// Stateless apart from the writer it was given (which must outlive it); one instance may scan
// any number of files from any number of threads at once.
class XCSSETScanner final : public core::FileScanner {
  public:
    // What one file yields before scoring.
    struct ScanContext {
        platform::FileURL file;
        std::string content;                       // the text as read
        std::vector<std::string> encodedStrings;   // base64 candidates, first-seen order, unique
        std::vector<std::string> decodedPayloads;  // candidates that decode to UTF-8 text
        bool isDependency = false;
        // Which keywords the text holds, found piece by piece for a file too large to hold;
        // empty when `content` is the whole text.
        std::optional<std::uint64_t> keywords;
    };

    // Files larger than this are judged in pieces (keyword rules only); larger than
    // kLargestFile, not read at all. Either way the read-failure log says so.
    static constexpr std::uint64_t kInMemoryLimit = platform::kLargestTextFile;
    static constexpr std::uint64_t kLargestFile = std::uint64_t{16} << 30;

    static constexpr std::string_view kBase64Alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

    explicit XCSSETScanner(platform::LineWriter& output = platform::standardOutput())
        : output_(output) {}

    bool canScan(const platform::FileURL& file) const override;
    // canScan without a scanner: the files it reads.
    static bool reads(const platform::FileURL& file);
    // Reads, analyses, scores and reports one file; an unreadable file gives score 0 and no
    // report.
    core::ScanResult scan(const platform::FileURL& file) const override;

    ScanContext buildContext(const platform::FileURL& file, std::string content) const;
    // Base64 arguments of echo and printf commands, joined across line feeds and spaces.
    std::vector<std::string> extractShellPayloads(std::string_view content) const;
    static bool isDependencyPath(const platform::FileURL& file);
    static bool isValidCandidate(std::string_view candidate);

    // The severity line for a score before capping, or empty below 30.
    static std::string_view severityLine(std::int64_t score);

    // Pure: the rule table, severity line, dependency notice and the cap at 100.
    core::ScanResult score(const ScanContext& context) const;
    void printReport(const core::ScanResult& result, const ScanContext& context) const;

  private:
    core::ScanResult scanInPieces(const platform::FileURL& file, std::uint64_t size) const;
    platform::LineWriter& output_;
};

}  // namespace quillon::detectors::xcsset
