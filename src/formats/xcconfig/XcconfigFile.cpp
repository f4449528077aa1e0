#include "formats/xcconfig/XcconfigFile.h"

namespace quillon::formats::xcconfig {

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == ';')) {
        text.remove_suffix(1);
    }
    return text;
}

bool isKeyChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

XcconfigFile parseXcconfig(std::string_view text) {
    XcconfigFile file;
    std::uint32_t line = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        ++line;
        std::string_view row = text.substr(start, end - start);
        start = end + 1;
        row = trim(row);
        if (row.starts_with("#include")) {
            row.remove_prefix(8);
            Include include;
            include.line = line;
            if (!row.empty() && row.front() == '?') {
                include.optional = true;
                row.remove_prefix(1);
            }
            row = trim(row);
            if (row.size() >= 2 && row.front() == '"') {
                const std::size_t close = row.find('"', 1);
                include.path =
                    row.substr(1, close == std::string_view::npos ? row.size() - 1 : close - 1);
            }
            if (!include.path.empty()) {
                file.includes.push_back(std::move(include));
            }
            continue;
        }
        if (const std::size_t comment = row.find("//"); comment != std::string_view::npos) {
            row = trim(row.substr(0, comment));
        }
        std::size_t key = 0;
        while (key < row.size() && isKeyChar(row[key])) {
            ++key;
        }
        if (key == 0) {
            continue;
        }
        std::size_t at = key;
        if (at < row.size() && row[at] == '[') {
            const std::size_t close = row.find(']', at);
            if (close == std::string_view::npos) {
                continue;
            }
            at = close + 1;
            // Several conditions follow one another: KEY[sdk=*][arch=*].
            while (at < row.size() && row[at] == '[') {
                const std::size_t next = row.find(']', at);
                if (next == std::string_view::npos) {
                    break;
                }
                at = next + 1;
            }
        }
        while (at < row.size() && (row[at] == ' ' || row[at] == '\t')) {
            ++at;
        }
        if (at >= row.size() || row[at] != '=') {
            continue;
        }
        file.settings.push_back(
            {std::string(row.substr(0, key)), std::string(trim(row.substr(at + 1))), line});
        if (end == text.size()) {
            break;
        }
    }
    return file;
}

}  // namespace quillon::formats::xcconfig
