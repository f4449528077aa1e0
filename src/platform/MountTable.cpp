#include "platform/MountTable.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace quillon::platform {

namespace {

std::string decodeEscapes(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto isOctal = [&](std::size_t k) {
            return i + k < field.size() && field[i + k] >= '0' && field[i + k] <= '7';
        };
        if (field[i] == '\\' && isOctal(1) && isOctal(2) && isOctal(3)) {
            out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                            (field[i + 3] - '0')));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

}  // namespace

std::vector<std::string> mountPointsIn(std::string_view mountinfo) {
    // Each line: mount id, parent id, device, root, mount point, options...
    std::vector<std::string> points;
    while (!mountinfo.empty()) {
        const std::size_t newline = mountinfo.find('\n');
        std::string_view line = mountinfo.substr(0, newline);
        mountinfo.remove_prefix(newline == std::string_view::npos ? mountinfo.size() : newline + 1);
        for (int field = 0; field < 4 && !line.empty(); ++field) {
            const std::size_t space = line.find(' ');
            line.remove_prefix(space == std::string_view::npos ? line.size() : space + 1);
        }
        const std::string_view point = line.substr(0, line.find(' '));
        if (!point.empty() && point.front() == '/') {
            points.push_back(decodeEscapes(point));
        }
    }
    return points;
}

bool hasMountBelow(const std::vector<std::string>& mountPoints, std::string_view directory) {
    while (directory.size() > 1 && directory.back() == '/') {
        directory.remove_suffix(1);
    }
    for (const std::string& point : mountPoints) {
        const bool below = directory == "/"
                               ? point.size() > 1
                               : point.size() > directory.size() + 1 &&
                                     point.compare(0, directory.size(), directory) == 0 &&
                                     point[directory.size()] == '/';
        if (below) {
            return true;
        }
    }
    return false;
}

std::optional<std::vector<std::string>> currentMountPoints() {
    // The table's size is not known up front (its file reports 0 bytes): read until the end.
    const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string table;
    char buffer[16384];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        table.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return mountPointsIn(table);
}

}  // namespace quillon::platform
