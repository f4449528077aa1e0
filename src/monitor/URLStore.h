#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Bookmarks.h"
#include "platform/Defaults.h"
#include "platform/FileURL.h"
#include "platform/Log.h"

namespace quillon::monitor {

// The persisted list of monitored folders, kept as bookmarks under the defaults key
// "stored_urls_v1": a JSON array of {"bookmarkData": base64} objects, in list order. Folders
// leave it only when the user removes them. Main thread only; logs to "com.urlstore.app" /
// "URLStore". Nothing is reported to callers: every failure is logged and the store carries on.
class URLStore {
  public:
    static constexpr const char* kStorageKey = "stored_urls_v1";

    // Both must outlive the store.
    URLStore(platform::Defaults& defaults, const platform::Bookmarks& bookmarks);

    // Replaces `urls` with the resolvable folders of the stored list. Undecodable data leaves
    // `urls` as it was and the stored value untouched.
    void load();
    // Appends a folder not already present and saves the whole list.
    void add(const platform::FileURL& url);
    // Takes a folder off the list and saves the rest; nothing happens when it is not listed.
    void remove(const platform::FileURL& url);
    // Writes the whole list, leaving out folders whose bookmark cannot be made.
    void save();

    const std::vector<platform::FileURL>& urls() const { return urls_; }

    // The stored form: bookmark bytes in order to JSON, and back (nothing when malformed).
    static std::string encode(const std::vector<std::string>& bookmarks);
    static std::optional<std::vector<std::string>> decode(const std::string& data);

  private:
    platform::Defaults& defaults_;
    const platform::Bookmarks& bookmarks_;
    platform::Logger logger_;
    std::vector<platform::FileURL> urls_;
};

}  // namespace quillon::monitor
