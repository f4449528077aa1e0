#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace quillon::platform {

// A deep walk of a folder: depth first, each directory visited before its children, siblings
// in byte order of their names, so that every run sees the same order. Symbolic links are
// visited but never followed into. Unreadable directories are skipped silently. There is no
// depth or path-length limit: only the directory being listed is open, entries are opened
// relative to it, and the walk climbs back through ".." after checking it is the same directory
// (a tree moved during the walk ends it with what was visited). The root itself is not visited;
// a root that is missing or not a directory gives an empty walk. Thread-safe; no state.
class DirectoryWalker {
  public:
    struct Entry {
        std::string_view parent;  // the parent's full path, built from the root's path
        std::string_view name;
        bool isDirectory = false;  // from the directory listing; a link is never a directory

        // Built on request: most entries of a walk are never wanted by path.
        std::string path() const;
    };
    enum class Next { proceed, skipDescendants, stop };

    struct Options {
        bool skipHidden = false;  // names starting with "." are neither visited nor entered
    };

    static void walk(const std::string& root, Options options,
                     const std::function<Next(const Entry&)>& visit);
};

}  // namespace quillon::platform
