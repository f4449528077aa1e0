#include "core/Finding.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace quillon::core {

std::string_view severityName(Severity severity) {
    switch (severity) {
        case Severity::low:
            return "low";
        case Severity::medium:
            return "medium";
        case Severity::high:
            return "high";
        case Severity::critical:
            return "critical";
    }
    return "low";
}

namespace {

std::uint64_t fnv1a(std::uint64_t hash, std::string_view text) {
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool isHostChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
}

// Top-level domains that mark a dotted word as a host name rather than a file name.
bool isDomainSuffix(std::string_view label) {
    static constexpr std::array<std::string_view, 24> kSuffixes = {
        "ru",   "com", "net", "org", "io",      "in",   "xyz",   "invalid",
        "info", "biz", "top", "cn",  "dev",     "app",  "co",    "me",
        "su",   "cc",  "tk",  "pw",  "example", "test", "onion", "online"};
    std::string lowered(label);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(kSuffixes.begin(), kSuffixes.end(), lowered) != kSuffixes.end();
}

}  // namespace

std::string computeFingerprint(const Finding& finding) {
    std::string normalised;
    bool pendingSpace = false;
    for (const char c : finding.evidence) {
        if (isSpace(c)) {
            pendingSpace = !normalised.empty();
            continue;
        }
        if (pendingSpace) {
            normalised.push_back(' ');
            pendingSpace = false;
        }
        normalised.push_back(c);
    }
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (std::string_view part :
         {std::string_view(finding.ruleId), std::string_view(finding.location.file),
          std::string_view(finding.location.objectId), std::string_view(finding.location.container),
          std::string_view(normalised)}) {
        hash = fnv1a(hash, part);
        hash = fnv1a(hash, std::string_view("\x1f", 1));
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i) {
        out[static_cast<std::size_t>(i)] = kHex[hash & 0xF];
        hash >>= 4;
    }
    return out;
}

std::string defang(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    std::size_t i = 0;
    bool afterScheme = false;
    while (i < text.size()) {
        // Schemes.
        const std::string_view rest = text.substr(i);
        auto startsWithCase = [&](std::string_view prefix) {
            if (rest.size() < prefix.size()) {
                return false;
            }
            for (std::size_t k = 0; k < prefix.size(); ++k) {
                if (std::tolower(static_cast<unsigned char>(rest[k])) != prefix[k]) {
                    return false;
                }
            }
            return i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1]));
        };
        if (startsWithCase("https://") || startsWithCase("http://")) {
            out.append(rest.substr(0, 1));
            out.append("xx");
            out.append(rest.substr(3, rest[4] == ':' ? 4 : 5));
            i += rest[4] == ':' ? 7 : 8;
            afterScheme = true;
            continue;
        }
        if (startsWithCase("ftp://")) {
            out.append("fxp://");
            i += 6;
            afterScheme = true;
            continue;
        }
        if (!isHostChar(text[i])) {
            out.push_back(text[i]);
            afterScheme = false;
            ++i;
            continue;
        }
        // A dotted word: host name when it follows a scheme or ends in a domain suffix.
        std::size_t end = i;
        while (end < text.size() && (isHostChar(text[end]) || text[end] == '.')) {
            ++end;
        }
        std::string_view word = text.substr(i, end - i);
        while (!word.empty() && word.back() == '.') {
            word.remove_suffix(1);
        }
        const std::size_t lastDot = word.rfind('.');
        const bool host = lastDot != std::string_view::npos && lastDot > 0 &&
                          (afterScheme || isDomainSuffix(word.substr(lastDot + 1)));
        for (const char c : word) {
            if (c == '.' && host) {
                out.append("[.]");
            } else {
                out.push_back(c);
            }
        }
        i += word.size();
        afterScheme = false;
    }
    return out;
}

void sortFindings(std::vector<Finding>& findings) {
    std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
        if (a.severity != b.severity) {
            return a.severity > b.severity;
        }
        if (a.location.file != b.location.file) {
            return a.location.file < b.location.file;
        }
        return a.location.line < b.location.line;
    });
}

}  // namespace quillon::core
