#pragma once

#include <string>
#include <variant>

#include "platform/FileURL.h"

namespace quillon::platform {

// Bookmark bytes that resolve back to a folder after a restart. On Apple these are
// security-scoped bookmarks; elsewhere our own bytes: the folder's path with its device and
// inode numbers. Stateless and thread-safe.
class Bookmarks {
  public:
    struct Resolved {
        FileURL url;
        bool isStale = false;  // a folder with another identity now stands at the path
    };
    struct Failure {
        std::string reason;  // readable, for the log
    };

    virtual ~Bookmarks() = default;
    virtual std::variant<std::string, Failure> create(const FileURL& folder) const = 0;
    // Fails when nothing is at the path or it is not a directory, or the bytes are malformed.
    virtual std::variant<Resolved, Failure> resolve(const std::string& bytes) const = 0;
    // Begins access to a resolved folder where the platform asks for it; true when granted.
    virtual bool startAccessing(const FileURL& folder) const = 0;
};

// The bookmarks of this platform.
const Bookmarks& systemBookmarks();

}  // namespace quillon::platform
