#include "platform/DirectoryWalker.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace quillon::platform {

namespace {

struct Item {
    std::string name;
    bool isDirectory = false;
};

struct Frame {
    std::vector<Item> items;
    std::size_t next = 0;
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
};

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Reads and sorts the entries of an open directory; `fd` stays open.
std::vector<Item> readItems(int fd, bool skipHidden) {
    std::vector<Item> items;
    const int listing = ::dup(fd);
    if (listing < 0) {
        return items;
    }
    DIR* dir = ::fdopendir(listing);
    if (dir == nullptr) {
        ::close(listing);
        return items;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == ".." || (skipHidden && name.front() == '.')) {
            continue;
        }
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            // Some file systems leave the type out of the listing.
            struct stat info {};
            if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;  // vanished meanwhile
            }
            isDirectory = S_ISDIR(info.st_mode);
        }
        items.push_back(Item{std::string(name), isDirectory});
    }
    ::closedir(dir);
    std::sort(items.begin(), items.end(),
              [](const Item& a, const Item& b) { return a.name < b.name; });
    return items;
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

void DirectoryWalker::walk(const std::string& root, Options options,
                           const std::function<Next(const Entry&)>& visit) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    std::vector<Frame> stack;
    stack.push_back(Frame{readItems(fd, options.skipHidden), 0, root});
    if (!identify(fd, stack.back())) {
        ::close(fd);
        return;
    }
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.items.size()) {
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
                break;
            }
            continue;
        }
        const Item& item = frame.items[frame.next++];
        std::string path = joinPath(frame.path, item.name);
        const Next next = visit(Entry{path, item.name, item.isDirectory});
        if (next == Next::stop) {
            break;
        }
        if (!item.isDirectory || next == Next::skipDescendants) {
            continue;
        }
        const int child = ::openat(fd, item.name.c_str(), kDirectoryFlags);
        if (child < 0) {
            continue;  // unreadable, or replaced by a link meanwhile
        }
        Frame inner{readItems(child, options.skipHidden), 0, std::move(path)};
        if (!identify(child, inner)) {
            ::close(child);
            continue;
        }
        ::close(fd);
        fd = child;
        stack.push_back(std::move(inner));
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

}  // namespace quillon::platform
