#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/FileURL.h"
#include "platform/TextFile.h"

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

    // Served by the thread's SharedWalk when it knows this configuration and folder.
    std::vector<platform::FileURL> discoverFiles(const platform::FileURL& root,
                                                 const DiscoveryConfiguration& configuration) const;
};

// One walk of a folder for all the discoveries a scan cycle makes in it. While one lives on a
// thread, FileDiscovery serves each of its configurations for its folder from a single walk
// (made at the first such discovery), each list in the walk's order and exactly as a walk of
// its own would have found it; and the small files that several configurations take are read
// once (platform::SharedReads: texts up to kLargestKeptText, within `readBudget` bytes; larger
// ones digested for the configurations that take a digest of them, within kDigestBudget). Other
// folders and configurations are walked as usual. Made per cycle, never kept: every cycle walks
// afresh. Not shared between threads; scopes nest, the innermost one serving.
class SharedWalk {
  public:
    // Only small texts are kept for the next analysis. Holding a large one costs more than
    // reading it again: a second read copies it from the page cache into memory the allocator
    // already has, while holding it makes every later read fault in fresh pages (measured in
    // bench/README.md: keeping every shared text up to 16 MB made the cycle 40 % slower).
    static constexpr std::size_t kReadBudget = std::size_t{4} << 20;
    static constexpr std::size_t kLargestKeptText = std::size_t{64} << 10;
    // Digests are what a scan keeps of a text (its scripts, its settings), far smaller than the
    // text; the budget bounds a project file that is nothing else.
    static constexpr std::size_t kDigestBudget = std::size_t{32} << 20;

    // Which of a configuration's files its scan reads; null: all but directories.
    using Reads = bool (*)(const platform::FileURL&);
    // Which of the files it reads its scan takes as a digest when an earlier scan of the cycle
    // read them, and how the digest is made; empty: none.
    struct Digestion {
        Reads takes = nullptr;
        platform::Digester make = nullptr;
    };

    SharedWalk(platform::FileURL root, std::vector<const DiscoveryConfiguration*> configurations,
               std::vector<Reads> reads = {}, std::size_t readBudget = kReadBudget,
               std::vector<Digestion> digestions = {});
    ~SharedWalk();
    SharedWalk(const SharedWalk&) = delete;
    SharedWalk& operator=(const SharedWalk&) = delete;

    static SharedWalk* current();
    // The configuration's files, walking first if this is the first discovery, handed over:
    // nothing when this scope does not serve this folder or configuration, or has already
    // handed that list over (a second discovery walks as usual).
    std::optional<std::vector<platform::FileURL>> takeFiles(
        const platform::FileURL& root, const DiscoveryConfiguration& configuration);
    // How many walks the scope made: 0 or 1.
    int walks() const { return walks_; }

  private:
    platform::FileURL root_;
    std::vector<const DiscoveryConfiguration*> configurations_;
    std::vector<Reads> readers_;
    std::vector<Digestion> digestions_;
    std::vector<std::vector<platform::FileURL>> files_;
    std::vector<bool> taken_;
    std::size_t readBudget_;
    std::unique_ptr<platform::SharedReads> reads_;
    int walks_ = 0;
    SharedWalk* outer_;
};

// Every configuration's files from one walk, in the walk's order. At most 64 configurations
// (std::invalid_argument beyond).
std::vector<std::vector<platform::FileURL>> discoverFilesOnce(
    const platform::FileURL& root,
    const std::vector<const DiscoveryConfiguration*>& configurations);

}  // namespace quillon::core
