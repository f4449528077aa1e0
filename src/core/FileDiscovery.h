#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "platform/FileURL.h"

namespace quillon::core {

// Which files a scan wants: lowercase extensions without the dot, and whether package
// directories are entered.
struct DiscoveryConfiguration {
    std::unordered_set<std::string> extensions;
    bool includePackageContents = true;
};

// The XCSSET pipeline's and the single-project window's files. Built once, thread-safe.
const DiscoveryConfiguration& xcssetDiscoveryConfiguration();
// The XcodeSpy pipeline's files. Built once, thread-safe.
const DiscoveryConfiguration& xcodeSpyDiscoveryConfiguration();

// Turns a project folder into its candidate files. Stateless; any thread.
//
// The order is DirectoryWalker's (depth first, siblings in byte order), so every run lists the
// same files in the same order. Hidden entries are visited; links are listed, never followed
// into; unreadable directories are skipped silently; no depth or path-length limit. Nothing is
// opened but directories.
// Directories whose extension is wanted (Assets.xcassets) are returned with a directory URL.
// This platform has no package notion, so `includePackageContents` never hides anything here.
class FileDiscovery {
  public:
    std::vector<platform::FileURL> discoverFiles(const platform::FileURL& root,
                                                 const std::unordered_set<std::string>& extensions,
                                                 bool includePackageContents) const;

    std::vector<platform::FileURL> discoverFiles(
        const platform::FileURL& root, const DiscoveryConfiguration& configuration) const {
        return discoverFiles(root, configuration.extensions, configuration.includePackageContents);
    }
};

// The lowercased extension of a name, by the same rule as FileURL::pathExtension.
std::string lowercasedExtension(std::string_view name);

}  // namespace quillon::core
