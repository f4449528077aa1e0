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
// The walk is depth first, a directory before its children, siblings in byte order of their
// names, so that every run lists the same files in the same order. Hidden entries are visited;
// symbolic links are listed but never followed into; unreadable directories are skipped
// silently. There is no depth limit and no path-length limit: the walk holds one directory
// open at a time and opens entries relative to it. Nothing is opened but directories.
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
