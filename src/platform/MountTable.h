#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::platform {

// The mount points listed in a mount table in the format of /proc/self/mountinfo, with the
// table's octal escapes (\040 for a space and so on) decoded. Lines that do not parse are left
// out. Pure; thread-safe.
std::vector<std::string> mountPointsIn(std::string_view mountinfo);

// Whether a mount point lies strictly below `directory` (an absolute path without links).
bool hasMountBelow(const std::vector<std::string>& mountPoints, std::string_view directory);

// This process's mount points, or nothing when the table cannot be read (not Linux, no /proc).
std::optional<std::vector<std::string>> currentMountPoints();

}  // namespace quillon::platform
