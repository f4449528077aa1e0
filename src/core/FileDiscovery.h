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
    bool gitHooks = false;  // also live git hooks, whatever their names
};

// The XCSSET pipeline's and the single-project window's files. Built once, thread-safe.
const DiscoveryConfiguration& xcssetDiscoveryConfiguration();
// The XcodeSpy pipeline's files. Built once, thread-safe.
const DiscoveryConfiguration& xcodeSpyDiscoveryConfiguration();

// The build-script analysis's files: project, scheme, settings and shell files, and the git hooks
// of the folder's repositories (files in a .git/hooks folder, but for git's .sample files).
// Built once, thread-safe.
const DiscoveryConfiguration& buildScriptsDiscoveryConfiguration();
// Whether a path is a live git hook: its folder is ".git/hooks" and its name is no ".sample".
bool isGitHookPath(std::string_view parent, std::string_view name);

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
                                                 bool includePackageContents,
                                                 bool gitHooks = false) const;

    std::vector<platform::FileURL> discoverFiles(
        const platform::FileURL& root, const DiscoveryConfiguration& configuration) const {
        return discoverFiles(root, configuration.extensions, configuration.includePackageContents,
                             configuration.gitHooks);
    }
};

// The lowercased extension of a name, by the same rule as FileURL::pathExtension.
std::string lowercasedExtension(std::string_view name);

}  // namespace quillon::core
