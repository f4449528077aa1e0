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

std::vector<platform::FileURL> FileDiscovery::discoverFiles(
    const platform::FileURL& root, const std::unordered_set<std::string>& extensions,
    bool /*includePackageContents: no packages on this platform*/) const {
    std::vector<platform::FileURL> found;
    using platform::DirectoryWalker;
    DirectoryWalker::walk(root.path(), {}, [&](const DirectoryWalker::Entry& entry) {
        if (extensions.contains(lowercasedExtension(entry.name))) {
            found.push_back(platform::FileURL::adopting(entry.path(), entry.isDirectory));
        }
        return DirectoryWalker::Next::proceed;
    });
    return found;
}

}  // namespace quillon::core
