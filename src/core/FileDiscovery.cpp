#include "core/FileDiscovery.h"

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

std::vector<platform::FileURL> FileDiscovery::discoverFiles(
    const platform::FileURL& root, const std::unordered_set<std::string>& extensions,
    bool /*includePackageContents: no packages on this platform*/, bool gitHooks) const {
    std::vector<platform::FileURL> found;
    using platform::DirectoryWalker;
    DirectoryWalker::walk(root.path(), {}, [&](const DirectoryWalker::Entry& entry) {
        if (extensions.contains(lowercasedExtension(entry.name)) ||
            (gitHooks && !entry.isDirectory && isGitHookPath(entry.parent, entry.name))) {
            found.push_back(platform::FileURL::adopting(entry.path(), entry.isDirectory));
        }
        return DirectoryWalker::Next::proceed;
    });
    return found;
}

}  // namespace quillon::core
