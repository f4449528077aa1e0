#include "core/FileDiscovery.h"

#include <algorithm>

#include "platform/DirectoryWalker.h"
#include "platform/Unicode.h"

namespace quillon::core {

std::string lowercasedExtension(std::string_view name) {
    return platform::lowercase(platform::pathExtensionOf(name));
}

const DiscoveryConfiguration& xcssetDiscoveryConfiguration() {
    static const DiscoveryConfiguration configuration{
        {"xcconfig", "pbxproj", "sh", "swift", "m", "mm", "plist", "xcassets"}, true};
    return configuration;
}

const DiscoveryConfiguration& xcodeSpyDiscoveryConfiguration() {
    static const DiscoveryConfiguration configuration{{"xcconfig", "pbxproj"}, true};
    return configuration;
}

const DiscoveryConfiguration& buildScriptsDiscoveryConfiguration() {
    static const DiscoveryConfiguration configuration{
        {"pbxproj", "xcscheme", "xcconfig", "sh", "bash", "zsh", "command"}, true, true};
    return configuration;
}

bool isGitHookPath(std::string_view parent, std::string_view name) {
    return (parent.ends_with("/.git/hooks") || parent == ".git/hooks") &&
           !name.ends_with(".sample") && !name.starts_with(".");
}

namespace {

bool takes(const DiscoveryConfiguration& configuration, const std::string& extension,
           const platform::DirectoryWalker::Entry& entry) {
    return configuration.extensions.contains(extension) ||
           (configuration.gitHooks && !entry.isDirectory &&
            isGitHookPath(entry.parent, entry.name));
}

thread_local SharedWalk* currentSharedWalk = nullptr;

}  // namespace

std::vector<std::vector<platform::FileURL>> discoverFilesOnce(
    const platform::FileURL& root,
    const std::vector<const DiscoveryConfiguration*>& configurations) {
    std::vector<std::vector<platform::FileURL>> found(configurations.size());
    using platform::DirectoryWalker;
    DirectoryWalker::walk(root.path(), {}, [&](const DirectoryWalker::Entry& entry) {
        const std::string extension = lowercasedExtension(entry.name);
        for (std::size_t i = 0; i < configurations.size(); ++i) {
            if (takes(*configurations[i], extension, entry)) {
                found[i].push_back(platform::FileURL::adopting(entry.path(), entry.isDirectory));
            }
        }
        return DirectoryWalker::Next::proceed;
    });
    return found;
}

std::vector<platform::FileURL> FileDiscovery::discoverFiles(
    const platform::FileURL& root, const std::unordered_set<std::string>& extensions,
    bool includePackageContents, bool gitHooks) const {
    // Package contents are never hidden on this platform, so the flag does not change a list.
    const DiscoveryConfiguration configuration{extensions, includePackageContents, gitHooks};
    return std::move(discoverFilesOnce(root, {&configuration}).front());
}

std::vector<platform::FileURL> FileDiscovery::discoverFiles(
    const platform::FileURL& root, const DiscoveryConfiguration& configuration) const {
    if (SharedWalk* shared = SharedWalk::current()) {
        if (const auto* files = shared->filesFor(root, configuration)) {
            return *files;
        }
    }
    return std::move(discoverFilesOnce(root, {&configuration}).front());
}

SharedWalk::SharedWalk(platform::FileURL root,
                       std::vector<const DiscoveryConfiguration*> configurations,
                       std::vector<Reads> reads, std::size_t readBudget)
    : root_(std::move(root)),
      configurations_(std::move(configurations)),
      readers_(std::move(reads)),
      readBudget_(readBudget),
      outer_(currentSharedWalk) {
    currentSharedWalk = this;
}

SharedWalk::~SharedWalk() {
    currentSharedWalk = outer_;
}

SharedWalk* SharedWalk::current() {
    return currentSharedWalk;
}

const std::vector<platform::FileURL>* SharedWalk::filesFor(
    const platform::FileURL& root, const DiscoveryConfiguration& configuration) {
    if (root.path() != root_.path()) {
        return nullptr;
    }
    const auto at = std::find(configurations_.begin(), configurations_.end(), &configuration);
    if (at == configurations_.end()) {
        return nullptr;
    }
    if (walks_ == 0) {
        files_ = discoverFilesOnce(root_, configurations_);
        walks_ = 1;
        // A file more than one scan reads is kept after its first read.
        std::unordered_map<std::string, int> expected;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            const Reads reads = i < readers_.size() ? readers_[i] : nullptr;
            for (const auto& file : files_[i]) {
                if (!file.isDirectory() && (reads == nullptr || reads(file))) {
                    ++expected[file.path()];
                }
            }
        }
        std::erase_if(expected, [](const auto& entry) { return entry.second < 2; });
        reads_ = std::make_unique<platform::SharedReads>(std::move(expected), readBudget_,
                                                              kLargestKeptText);
    }
    return &files_[static_cast<std::size_t>(at - configurations_.begin())];
}

}  // namespace quillon::core
