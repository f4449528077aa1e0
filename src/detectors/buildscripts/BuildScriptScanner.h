#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "core/Finding.h"
#include "platform/FileURL.h"
#include "platform/TextFile.h"

namespace quillon::detectors::buildscripts {

struct BuildScriptReport {
    std::vector<core::Finding> findings;  // most severe first
    std::vector<core::ScanDiagnostic> diagnostics;
    std::size_t scripts = 0;  // scripts analysed
};

// The build-script analysis of one project folder. It reads the project files (targets, their
// script phases, build rules, legacy targets and build settings, with the .xcconfig files they
// name), the schemes' pre- and post-actions, the shell files these run, the git hooks and the
// remaining shell files, and judges every script by what it would do and by who runs it.
//
// Reads only the given files and the files their scripts run inside the folder; never writes,
// never runs anything. A file it cannot read or judge whole becomes a diagnostic. Each script
// has its own budget, with a share guaranteed in proportion to its size, so that no script can
// starve the ones after it. Stateless; any thread.
class BuildScriptScanner {
  public:
    static constexpr std::size_t kMaxFileBytes = 32u << 20;

    // The project files, of which the analysis takes a digest (their model) when another scan
    // of the cycle read them first (see platform::SharedReads), and the digest.
    static bool takesDigest(const platform::FileURL& file);
    static platform::Digest digest(std::string_view text);

    BuildScriptReport scan(const platform::FileURL& folder,
                           const std::vector<platform::FileURL>& files) const;
};

}  // namespace quillon::detectors::buildscripts
