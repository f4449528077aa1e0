#include "platform/LoginItem.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace quillon::platform {

namespace fs = std::filesystem;

namespace {

std::string defaultConfigHome() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
        return config;
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

// Desktop entry Exec values quote arguments holding spaces or specials.
std::string quoteExec(const std::string& path) {
    if (path.find_first_of(" \t\"'\\$`") == std::string::npos) {
        return path;
    }
    std::string out = "\"";
    for (const char c : path) {
        // The Exec field's escape, then the entry's own escape of each backslash.
        if (c == '\\') {
            out += "\\\\\\\\";
            continue;
        }
        if (c == '"' || c == '`' || c == '$') {
            out += "\\\\";
        }
        out.push_back(c);
    }
    return out + "\"";
}

}  // namespace

XdgAutostart::XdgAutostart(std::string executable, std::string configHome)
    : executable_(std::move(executable)),
      path_((configHome.empty() ? defaultConfigHome() : configHome) +
            "/autostart/quillon.desktop") {}

std::string XdgAutostart::entry() const {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quillon\n"
           "Comment=Keeps watching Xcode projects for build-time malware\n"
           "Exec=" +
           quoteExec(executable_) +
           " --background\n"
           "Icon=quillon\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool XdgAutostart::isEnabled() const {
    std::error_code ignored;
    return fs::is_regular_file(path_, ignored);
}

bool XdgAutostart::setEnabled(bool enabled, std::string& error) {
    std::error_code failure;
    if (!enabled) {
        fs::remove(path_, failure);
        if (failure) {
            error = path_ + ": " + failure.message();
            return false;
        }
        return true;
    }
    fs::create_directories(fs::path(path_).parent_path(), failure);
    if (failure) {
        error = fs::path(path_).parent_path().string() + ": " + failure.message();
        return false;
    }
    // Written beside and renamed, so a session starting meanwhile never reads half an entry.
    const std::string temporary = path_ + ".new";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << entry();
        if (!file.flush()) {
            error = temporary + ": cannot be written";
            return false;
        }
    }
    fs::rename(temporary, path_, failure);
    if (failure) {
        error = path_ + ": " + failure.message();
        fs::remove(temporary, failure);
        return false;
    }
    return true;
}

}  // namespace quillon::platform
