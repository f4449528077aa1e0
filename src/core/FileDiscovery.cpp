#include "core/FileDiscovery.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "platform/DirectoryWalker.h"

namespace quillon::core {

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

// Which configurations take each extension, as one bit per configuration: one look-up per
// entry of a walk instead of one per configuration.
class ExtensionTable {
  public:
    static constexpr std::size_t kMostConfigurations = 64;

    explicit ExtensionTable(const std::vector<const DiscoveryConfiguration*>& configurations) {
        for (std::size_t i = 0; i < configurations.size(); ++i) {
            for (const auto& extension : configurations[i]->extensions) {
                const auto at = std::find_if(rows_.begin(), rows_.end(), [&](const auto& row) {
                    return row.first == extension;
                });
                if (at == rows_.end()) {
                    rows_.emplace_back(extension, std::uint64_t{1} << i);
                } else {
                    at->second |= std::uint64_t{1} << i;
                }
            }
        }
    }

    // The configurations taking a name's extension, one bit each; 0 when none does.
    std::uint64_t takers(std::string_view name) const {
        const platform::LowercaseExtension extension(name);
        for (const auto& [known, takers] : rows_) {
            if (known == extension.view()) {
                return takers;
            }
        }
        return 0;
    }

  private:
    std::vector<std::pair<std::string, std::uint64_t>> rows_;
};

thread_local SharedWalk* currentSharedWalk = nullptr;

}  // namespace

std::vector<std::vector<platform::FileURL>> discoverFilesOnce(
    const platform::FileURL& root,
    const std::vector<const DiscoveryConfiguration*>& configurations) {
    if (configurations.size() > ExtensionTable::kMostConfigurations) {
        throw std::invalid_argument("discoverFilesOnce: more than 64 configurations");
    }
    std::vector<std::vector<platform::FileURL>> found(configurations.size());
    const ExtensionTable table(configurations);
    using platform::DirectoryWalker;
    std::uint64_t hookTakers = 0;
    for (std::size_t i = 0; i < configurations.size(); ++i) {
        if (configurations[i]->gitHooks) {
            hookTakers |= std::uint64_t{1} << i;
        }
    }
    DirectoryWalker::walk(root.path(), {}, [&](const DirectoryWalker::Entry& entry) {
        std::uint64_t takers = table.takers(entry.name);
        if (hookTakers != 0 && !entry.isDirectory && isGitHookPath(entry.parent, entry.name)) {
            takers |= hookTakers;
        }
        if (takers == 0) {
            return DirectoryWalker::Next::proceed;
        }
        platform::FileURL file = platform::FileURL::adopting(entry.path(), entry.isDirectory);
        for (std::size_t i = 0; takers != 0; ++i, takers >>= 1) {
            if ((takers & 1) != 0) {
                found[i].push_back(takers == 1 ? std::move(file) : file);
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
        if (auto files = shared->takeFiles(root, configuration)) {
            return std::move(*files);
        }
    }
    return std::move(discoverFilesOnce(root, {&configuration}).front());
}

SharedWalk::SharedWalk(platform::FileURL root,
                       std::vector<const DiscoveryConfiguration*> configurations,
                       std::vector<Reads> reads, std::size_t readBudget,
                       std::vector<Digestion> digestions)
    : root_(std::move(root)),
      configurations_(std::move(configurations)),
      readers_(std::move(reads)),
      digestions_(std::move(digestions)),
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

std::optional<std::vector<platform::FileURL>> SharedWalk::takeFiles(
    const platform::FileURL& root, const DiscoveryConfiguration& configuration) {
    if (root.path() != root_.path()) {
        return std::nullopt;
    }
    const auto at = std::find(configurations_.begin(), configurations_.end(), &configuration);
    if (at == configurations_.end()) {
        return std::nullopt;
    }
    const auto index = static_cast<std::size_t>(at - configurations_.begin());
    if (walks_ == 0) {
        files_ = discoverFilesOnce(root_, configurations_);
        taken_.assign(files_.size(), false);
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
        std::vector<std::pair<const std::string*, platform::Digester>> digests;
        for (std::size_t i = 0; i < files_.size() && i < digestions_.size(); ++i) {
            const Digestion& digestion = digestions_[i];
            if (digestion.make == nullptr) {
                continue;
            }
            for (const auto& file : files_[i]) {
                // Only a file another scan reads first can be digested.
                if (expected.contains(file.path()) && digestion.takes(file)) {
                    digests.emplace_back(&file.path(), digestion.make);
                }
            }
        }
        reads_ = std::make_unique<platform::SharedReads>(std::move(expected), readBudget_,
                                                         kLargestKeptText, kDigestBudget);
        for (const auto& [path, make] : digests) {
            reads_->expectDigest(*path, make);
        }
    }
    if (taken_[index]) {
        return std::nullopt;
    }
    taken_[index] = true;
    return std::move(files_[index]);
}

}  // namespace quillon::core
