#include "support/TempTree.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string TempTree::writeDeep(const std::string& dir, int depth, const std::string& file,
                                std::string_view content) const {
    int fd = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY);
    std::string path = root_.string();
    for (int level = 0; level < depth && fd >= 0; ++level) {
        ::mkdirat(fd, dir.c_str(), 0755);
        const int next = ::openat(fd, dir.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        path += "/" + dir;
    }
    if (fd < 0) {
        throw std::runtime_error("cannot build a deep tree");
    }
    const int out = ::openat(fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::close(fd);
    if (out < 0 ||
        ::write(out, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
        throw std::runtime_error("cannot write in a deep tree");
    }
    ::close(out);
    return path + "/" + file;
}

void TempTree::remove(std::string_view relative) const {
    std::filesystem::remove_all(root_ / relative);
}

}  // namespace quillon::testing
