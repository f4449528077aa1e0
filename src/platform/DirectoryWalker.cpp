#include "platform/DirectoryWalker.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/MountTable.h"

namespace quillon::platform {

namespace {

// A directory's entries: the names one after another in one buffer, so that listing a
// directory costs no allocation per entry.
struct Item {
    std::uint64_t key = 0;  // the first eight bytes of the name, big-endian, zero-padded
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    bool isDirectory = false;
};

// Orders names by bytes as their eight-byte keys do, which settles most comparisons without
// reading the names; a name holds no zero byte, so the padding sorts a prefix first.
std::uint64_t sortKey(std::string_view name) {
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        key = key << 8 | (i < name.size() ? static_cast<unsigned char>(name[i]) : 0u);
    }
    return key;
}

struct Listing {
    std::string names;
    std::vector<Item> items;

    std::string_view name(const Item& item) const {
        return {names.data() + item.offset, item.length};
    }
    const char* terminatedName(const Item& item) const { return names.data() + item.offset; }
};

struct Frame {
    Listing listing;
    std::size_t next = 0;
    std::string path;
    int fd = -1;  // closed for frames deeper than kOpenLevels while a child is walked
    dev_t device = 0;
    ino_t inode = 0;
};

// Directories kept open on the way down; deeper ones are reopened through "..".
constexpr std::size_t kOpenLevels = 48;

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

void addItem(Listing& listing, int fd, const char* rawName, unsigned char type, bool skipHidden) {
    const std::string_view name(rawName);
    if (name == "." || name == ".." || (skipHidden && name.front() == '.')) {
        return;
    }
    bool isDirectory = type == DT_DIR;
    if (type == DT_UNKNOWN) {
        // Some file systems leave the type out of the listing.
        struct stat info {};
        if (::fstatat(fd, rawName, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            return;  // vanished meanwhile
        }
        isDirectory = S_ISDIR(info.st_mode);
    }
    listing.items.push_back(Item{sortKey(name), static_cast<std::uint32_t>(listing.names.size()),
                                 static_cast<std::uint32_t>(name.size()), isDirectory});
    listing.names.append(name);
    listing.names.push_back('\0');  // openat takes the name from the buffer as it stands
}

#ifdef __linux__
// Layout of a linux_dirent64 record: inode (8), offset (8), record length (2), type (1), name.
constexpr std::size_t kRecordLength = 16;
constexpr std::size_t kRecordType = 18;
constexpr std::size_t kRecordName = 19;
#endif

#ifdef __linux__
// The longest record the listing call can return: header, a 255-byte name, its terminator,
// rounded up to eight bytes.
constexpr std::size_t kLongestRecord = 280;

// Whether an answer of the listing call that left room for the longest record means the
// directory has no more entries. ext2/3/4 and tmpfs fill the buffer as far as the entries go,
// so such an answer was the last one and the closing call that would answer nothing can be
// saved: half the listing calls of a walk. Network and FUSE file systems may answer in parts
// and are asked until they answer nothing; so is every directory of a tree with anything
// mounted inside it, which could be any file system.
bool shortListingsAreComplete(int rootFd, const std::string& root) {
    constexpr long kExtMagic = 0xEF53;
    constexpr long kTmpfsMagic = 0x01021994;
    struct statfs fileSystem {};
    if (::fstatfs(rootFd, &fileSystem) != 0 ||
        (fileSystem.f_type != kExtMagic && fileSystem.f_type != kTmpfsMagic)) {
        return false;
    }
    char* resolved = ::realpath(root.c_str(), nullptr);
    if (resolved == nullptr) {
        return false;
    }
    const std::string absolute(resolved);
    std::free(resolved);
    const auto mountPoints = currentMountPoints();
    return mountPoints && !hasMountBelow(*mountPoints, absolute);
}
#endif

// Reads and sorts the entries of an open directory; `fd` stays open. `shortIsComplete`: see
// shortListingsAreComplete.
Listing readItems(int fd, bool skipHidden, bool shortIsComplete) {
    Listing listing;
#ifdef __linux__
    // The raw listing call reads straight from our descriptor: no duplicate descriptor and no
    // directory stream per directory, which matters when a monitor walks tens of thousands of
    // them every cycle.
    alignas(8) char buffer[32768];
    while (true) {
        const long got = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        if (listing.items.empty()) {
            // Records take 24 bytes and more, names less than their records; most directories
            // come in one answer. Later answers grow the buffers the usual way.
            listing.items.reserve(static_cast<std::size_t>(got) / 24);
            listing.names.reserve(static_cast<std::size_t>(got));
        }
        for (long offset = 0; offset < got;) {
            const char* record = buffer + offset;
            unsigned short length = 0;
            std::memcpy(&length, record + kRecordLength, sizeof length);
            addItem(listing, fd, record + kRecordName,
                    static_cast<unsigned char>(record[kRecordType]), skipHidden);
            offset += length;
        }
        if (shortIsComplete && static_cast<std::size_t>(got) + kLongestRecord <= sizeof buffer) {
            break;
        }
    }
#else
    (void)shortIsComplete;  // directory streams read to the end themselves
    const int copy = ::dup(fd);
    if (copy < 0) {
        return listing;
    }
    DIR* dir = ::fdopendir(copy);
    if (dir == nullptr) {
        ::close(copy);
        return listing;
    }
    while (const dirent* entry = ::readdir(dir)) {
        addItem(listing, fd, entry->d_name, entry->d_type, skipHidden);
    }
    ::closedir(dir);
#endif
    std::sort(listing.items.begin(), listing.items.end(), [&](const Item& a, const Item& b) {
        if (a.key != b.key) {
            return a.key < b.key;
        }
        return listing.name(a) < listing.name(b);
    });
    return listing;
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

std::string joinPath(std::string_view parent, std::string_view name) {
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

std::string DirectoryWalker::Entry::path() const {
    return joinPath(parent, name);
}

void DirectoryWalker::walk(const std::string& root, Options options,
                           const std::function<Next(const Entry&)>& visit) {
    const int rootFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) {
        return;
    }
#ifdef __linux__
    const bool shortIsComplete = shortListingsAreComplete(rootFd, root);
#else
    const bool shortIsComplete = false;
#endif
    std::vector<Frame> stack;
    stack.push_back(Frame{readItems(rootFd, options.skipHidden, shortIsComplete), 0, root, rootFd});
    // Up to kOpenLevels directories stay open, which is every directory of an ordinary tree.
    // Deeper ones are closed while their children are walked and reopened through "..", after
    // checking it is still the same directory, so no tree depth or path length runs out of
    // descriptors or overflows a path buffer.
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.listing.items.size()) {
            const int childFd = frame.fd;
            stack.pop_back();
            if (!stack.empty() && stack.back().fd < 0) {
                Frame& parent = stack.back();
                parent.fd = ::openat(childFd, "..", kDirectoryFlags);
                struct stat info {};
                if (parent.fd >= 0 &&
                    (::fstat(parent.fd, &info) != 0 || info.st_dev != parent.device ||
                     info.st_ino != parent.inode)) {
                    ::close(parent.fd);
                    parent.fd = -1;
                }
                if (parent.fd < 0) {
                    ::close(childFd);
                    break;  // the tree was moved under us; what was visited stands
                }
            }
            ::close(childFd);
            continue;
        }
        const Item item = frame.listing.items[frame.next++];
        const std::string_view name = frame.listing.name(item);
        const Next next = visit(Entry{frame.path, name, item.isDirectory});
        if (next == Next::stop) {
            break;
        }
        if (!item.isDirectory || next == Next::skipDescendants) {
            continue;
        }
        const int child = ::openat(frame.fd, frame.listing.terminatedName(item), kDirectoryFlags);
        if (child < 0) {
            continue;  // unreadable, or replaced by a link meanwhile
        }
        if (stack.size() >= kOpenLevels) {
            if (!identify(frame.fd, frame)) {
                ::close(child);
                continue;
            }
            ::close(frame.fd);
            frame.fd = -1;
        }
        Frame inner{readItems(child, options.skipHidden, shortIsComplete), 0,
                    joinPath(frame.path, name), child};
        stack.push_back(std::move(inner));
    }
    for (const Frame& frame : stack) {
        if (frame.fd >= 0) {
            ::close(frame.fd);
        }
    }
}

}  // namespace quillon::platform
