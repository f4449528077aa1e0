#pragma once

#include <string>
#include <string_view>

namespace quillon::platform {

// A file-system location in the form the scan reports and the stored project list use.
// Two URLs are equal when their absolute strings are equal, so a directory URL and a file
// URL of one path differ. Immutable value type: safe to share between threads.
class FileURL {
  public:
    FileURL() = default;
    // A relative path is resolved against the current directory; trailing slashes are dropped
    // (the root stays "/").
    FileURL(std::string_view path, bool isDirectory);
    // The same URL, taking over a path the caller built: no copy when it is already absolute.
    static FileURL adopting(std::string path, bool isDirectory);

    const std::string& path() const { return path_; }
    bool isDirectory() const { return isDirectory_; }
    bool isEmpty() const { return path_.empty(); }

    // "file://" + the percent-encoded path, with a trailing "/" for a directory. Made on
    // request: most users of a URL need only its path.
    std::string absoluteString() const;
    std::string lastPathComponent() const;
    // Text after the last dot of the last component; empty when there is no dot, when the only
    // dot starts the name, or when the name ends in a dot.
    std::string pathExtension() const;

    FileURL appendingPathComponent(std::string_view component, bool isDirectory) const;

    // Equal absolute strings: the encoding is one to one, and the root is "file:///" either way.
    friend bool operator==(const FileURL& a, const FileURL& b) {
        return a.path_ == b.path_ && (a.isDirectory_ == b.isDirectory_ || a.path_ == "/");
    }

  private:
    std::string path_;
    bool isDirectory_ = false;
};

// The extension of a file name by the rule of FileURL::pathExtension.
std::string_view pathExtensionOf(std::string_view name);

// The lowercased extension of a name (lowercase(pathExtensionOf(name))), held inline when it is
// short ASCII, as every extension a scan looks for is: walks and scans ask it of every file, so
// it must not allocate there. Not copyable: `view()` may point into it.
class LowercaseExtension {
  public:
    explicit LowercaseExtension(std::string_view name);
    // Of a URL's last path component.
    explicit LowercaseExtension(const FileURL& file);
    LowercaseExtension(const LowercaseExtension&) = delete;
    LowercaseExtension& operator=(const LowercaseExtension&) = delete;

    std::string_view view() const { return view_; }

  private:
    char inline_[16];
    std::string other_;
    std::string_view view_;
};

// Percent-encodes every byte outside the unreserved and sub-delimiter set of a file URL path.
std::string percentEncodePath(std::string_view path);

}  // namespace quillon::platform
