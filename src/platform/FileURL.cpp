#include "platform/FileURL.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <vector>

#include "platform/TextScanning.h"
#include "platform/Unicode.h"

namespace quillon::platform {

namespace {

std::string currentDirectory() {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return "/";
        }
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

// Trailing slashes name the same location; the root keeps its one.
void dropTrailingSlashes(std::string& path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
}

// Unreserved and sub-delimiter bytes of a file URL path stay as they are.
constexpr std::array<bool, 256> kAllowed = alphanumericTable("-._~!$&'()*+,;=:@/");

}  // namespace

std::string percentEncodePath(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    // Most paths need no escape at all: copy the run of allowed bytes in one piece.
    std::size_t clean = 0;
    while (clean < path.size() && kAllowed[static_cast<unsigned char>(path[clean])]) {
        ++clean;
    }
    std::string out;
    out.reserve(path.size() + (clean < path.size() ? 16 : 0));
    out.append(path.substr(0, clean));
    for (char ch : path.substr(clean)) {
        const auto byte = static_cast<unsigned char>(ch);
        if (kAllowed[byte]) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0x0F]);
        }
    }
    return out;
}

FileURL::FileURL(std::string_view path, bool isDirectory) : isDirectory_(isDirectory) {
    if (path.empty() || path.front() != '/') {
        std::string base = currentDirectory();
        if (base.back() != '/') {
            base.push_back('/');
        }
        path_ = base;
        path_.append(path);
    } else {
        path_ = path;
    }
    dropTrailingSlashes(path_);
}

FileURL FileURL::adopting(std::string path, bool isDirectory) {
    if (path.empty() || path.front() != '/') {
        return FileURL(std::string_view(path), isDirectory);
    }
    FileURL url;
    url.path_ = std::move(path);
    url.isDirectory_ = isDirectory;
    dropTrailingSlashes(url.path_);
    return url;
}

std::string FileURL::absoluteString() const {
    std::string absolute = "file://" + percentEncodePath(path_);
    if (isDirectory_ && absolute.back() != '/') {
        absolute.push_back('/');
    }
    return absolute;
}

std::string FileURL::lastPathComponent() const {
    if (path_ == "/") {
        return path_;
    }
    const auto slash = path_.rfind('/');
    return slash == std::string::npos ? path_ : path_.substr(slash + 1);
}

std::string_view pathExtensionOf(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) {
        return {};
    }
    return name.substr(dot + 1);
}

LowercaseExtension::LowercaseExtension(std::string_view name) {
    const std::string_view extension = pathExtensionOf(name);
    if (extension.size() <= sizeof inline_ && isAscii(extension)) {
        for (std::size_t i = 0; i < extension.size(); ++i) {
            const char c = extension[i];
            inline_[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
        view_ = std::string_view(inline_, extension.size());
    } else {
        other_ = lowercase(extension);
        view_ = other_;
    }
}

LowercaseExtension::LowercaseExtension(const FileURL& file)
    : LowercaseExtension(file.path() == "/"
                             ? std::string_view(file.path())
                             : std::string_view(file.path()).substr(file.path().rfind('/') + 1)) {}

std::string FileURL::pathExtension() const {
    return std::string(pathExtensionOf(lastPathComponent()));
}

FileURL FileURL::appendingPathComponent(std::string_view component, bool isDirectory) const {
    std::string joined = path_;
    if (joined.back() != '/') {
        joined.push_back('/');
    }
    joined.append(component);
    return FileURL(joined, isDirectory);
}

}  // namespace quillon::platform
