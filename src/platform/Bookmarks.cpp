#include "platform/Bookmarks.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

namespace quillon::platform {

namespace {

// "quillon-bookmark-1\n<device>\n<inode>\n<path>": text, so that a stored list stays readable.
constexpr std::string_view kMagic = "quillon-bookmark-1\n";

class PathBookmarks final : public Bookmarks {
  public:
    std::variant<std::string, Failure> create(const FileURL& folder) const override {
        struct stat info {};
        if (::stat(folder.path().c_str(), &info) != 0) {
            return Failure{"The folder \"" + folder.path() +
                           "\" cannot be found: " + std::strerror(errno)};
        }
        std::string bytes(kMagic);
        bytes += std::to_string(static_cast<unsigned long long>(info.st_dev)) + "\n";
        bytes += std::to_string(static_cast<unsigned long long>(info.st_ino)) + "\n";
        bytes += folder.path();
        return bytes;
    }

    std::variant<Resolved, Failure> resolve(const std::string& bytes) const override {
        std::string_view rest(bytes);
        if (!rest.starts_with(kMagic)) {
            return Failure{"The bookmark data is not in a known format."};
        }
        rest.remove_prefix(kMagic.size());
        unsigned long long device = 0;
        unsigned long long inode = 0;
        if (!readNumber(rest, device) || !readNumber(rest, inode) || rest.empty() ||
            rest.front() != '/') {
            return Failure{"The bookmark data is corrupted."};
        }
        const std::string path(rest);
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            return Failure{"The folder \"" + path + "\" no longer exists."};
        }
        if (!S_ISDIR(info.st_mode)) {
            return Failure{"The item at \"" + path + "\" is not a folder."};
        }
        const bool stale = static_cast<unsigned long long>(info.st_dev) != device ||
                           static_cast<unsigned long long>(info.st_ino) != inode;
        return Resolved{FileURL(path, true), stale};
    }

    bool startAccessing(const FileURL&) const override { return true; }

  private:
    static bool readNumber(std::string_view& rest, unsigned long long& value) {
        const auto newline = rest.find('\n');
        if (newline == std::string_view::npos || newline == 0) {
            return false;
        }
        const auto result = std::from_chars(rest.data(), rest.data() + newline, value);
        if (result.ec != std::errc() || result.ptr != rest.data() + newline) {
            return false;
        }
        rest.remove_prefix(newline + 1);
        return true;
    }
};

}  // namespace

const Bookmarks& systemBookmarks() {
    static const PathBookmarks bookmarks;
    return bookmarks;
}

}  // namespace quillon::platform
