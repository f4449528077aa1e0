#include "support/TempTree.h"

#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace quillon::testing {

TempTree::TempTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillon-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root_ = pattern;
}

TempTree::~TempTree() {
    std::error_code ignored;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root_, ignored);
    if (ignored) {
        // Trees deeper than PATH_MAX defeat remove_all; rm walks them a directory at a time.
        const std::string command = "rm -rf '" + root_.string() + "'";
        [[maybe_unused]] const int status = std::system(command.c_str());
    }
}

platform::FileURL TempTree::write(std::string_view relative, std::string_view content) const {
    const auto target = root_ / relative;
    std::filesystem::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + target.string());
    }
    return platform::FileURL(target.string(), false);
}

void TempTree::mkdir(std::string_view relative) const {
    std::filesystem::create_directories(root_ / relative);
}

void TempTree::symlink(std::string_view target, std::string_view relative) const {
    const auto link = root_ / relative;
    std::filesystem::create_directories(link.parent_path());
    std::filesystem::create_symlink(target, link);
}

void TempTree::remove(std::string_view relative) const {
    std::filesystem::remove_all(root_ / relative);
}

}  // namespace quillon::testing
