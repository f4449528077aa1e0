#include "core/FileDiscovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/Unicode.h"

namespace quillon::core {

namespace {

struct Entry {
    std::string name;
    bool isDirectory = false;
};

struct Frame {
    std::vector<Entry> entries;
    std::size_t next = 0;
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
};

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Reads and sorts the entries of an open directory; `fd` stays open.
std::vector<Entry> readEntries(int fd) {
    std::vector<Entry> entries;
    const int listing = ::dup(fd);
    if (listing < 0) {
        return entries;
    }
    DIR* dir = ::fdopendir(listing);
    if (dir == nullptr) {
        ::close(listing);
        return entries;
    }
    ::rewinddir(dir);
    while (const dirent* item = ::readdir(dir)) {
        const std::string_view name(item->d_name);
        if (name == "." || name == "..") {
            continue;
        }
        bool isDirectory = item->d_type == DT_DIR;
        if (item->d_type == DT_UNKNOWN) {
            // Some file systems leave the type out of the listing.
            struct stat info {};
            if (::fstatat(fd, item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;  // vanished or unreadable: skipped, like an item without values
            }
            isDirectory = S_ISDIR(info.st_mode);
        }
        entries.push_back(Entry{std::string(name), isDirectory});
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
}

bool identify(int fd, Frame& frame) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return false;
    }
    frame.device = info.st_dev;
    frame.inode = info.st_ino;
    return true;
}

std::string joinPath(const std::string& parent, const std::string& name) {
    std::string path;
    path.reserve(parent.size() + name.size() + 1);
    path.append(parent);
    if (path.empty() || path.back() != '/') {
        path.push_back('/');
    }
    path.append(name);
    return path;
}

}  // namespace

std::string lowercasedExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) {
        return {};
    }
    return platform::lowercase(name.substr(dot + 1));
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
    int fd = ::open(root.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return found;
    }
    std::vector<Frame> stack;
    stack.push_back(Frame{readEntries(fd), 0, root.path()});
    if (!identify(fd, stack.back())) {
        ::close(fd);
        return found;
    }

    // Only the directory being listed is open. Going back up reopens the parent through ".."
    // and checks that it is the same directory, which keeps deep trees within any
    // descriptor limit and never builds a path longer than one name for a system call.
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.entries.size()) {
            stack.pop_back();
            if (stack.empty()) {
                break;
            }
            const int parent = ::openat(fd, "..", kDirectoryFlags);
            ::close(fd);
            fd = parent;
            struct stat info {};
            if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_dev != stack.back().device ||
                info.st_ino != stack.back().inode) {
                // The tree was moved under us; what is listed so far stands.
                if (fd >= 0) {
                    ::close(fd);
                }
                return found;
            }
            continue;
        }
        const Entry& entry = frame.entries[frame.next++];
        std::string path = joinPath(frame.path, entry.name);
        if (extensions.contains(lowercasedExtension(entry.name))) {
            found.emplace_back(path, entry.isDirectory);
        }
        if (!entry.isDirectory) {
            continue;
        }
        const int child = ::openat(fd, entry.name.c_str(), kDirectoryFlags);
        if (child < 0) {
            continue;  // unreadable or replaced by a link: skipped silently
        }
        Frame next{readEntries(child), 0, std::move(path)};
        if (!identify(child, next)) {
            ::close(child);
            continue;
        }
        ::close(fd);
        fd = child;
        stack.push_back(std::move(next));
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return found;
}

}  // namespace quillon::core
