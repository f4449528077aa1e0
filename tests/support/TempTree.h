#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/FileURL.h"

namespace quillon::testing {

// A temporary folder that builds small project trees inline and removes itself.
class TempTree {
  public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::filesystem::path& root() const { return root_; }
    platform::FileURL url() const { return platform::FileURL(root_.string(), true); }
    std::string path(std::string_view relative) const { return (root_ / relative).string(); }
    platform::FileURL fileURL(std::string_view relative) const {
        return platform::FileURL(path(relative), false);
    }

    // Writes a file, creating its folders.
    platform::FileURL write(std::string_view relative, std::string_view content) const;
    void mkdir(std::string_view relative) const;
    void symlink(std::string_view target, std::string_view relative) const;
    void remove(std::string_view relative) const;
    // Builds dir/dir/.../dir (`depth` levels) holding `file` with `content`, through
    // descriptors so that the path may exceed PATH_MAX; returns the file's full path. The tree
    // is removed with the rest.
    std::string writeDeep(const std::string& dir, int depth, const std::string& file,
                          std::string_view content) const;

  private:
    std::filesystem::path root_;
};

}  // namespace quillon::testing
