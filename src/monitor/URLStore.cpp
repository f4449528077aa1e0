#include "monitor/URLStore.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <variant>

#include "platform/Base64.h"

namespace quillon::monitor {

URLStore::URLStore(platform::Defaults& defaults, const platform::Bookmarks& bookmarks)
    : defaults_(defaults), bookmarks_(bookmarks), logger_("com.urlstore.app", "URLStore") {}

std::string URLStore::encode(const std::vector<std::string>& bookmarks) {
    nlohmann::json array = nlohmann::json::array();
    for (const auto& bookmark : bookmarks) {
        array.push_back({{"bookmarkData", platform::encodeBase64(bookmark)}});
    }
    return array.dump();
}

std::optional<std::vector<std::string>> URLStore::decode(const std::string& data) {
    const nlohmann::json document = nlohmann::json::parse(data, nullptr, false);
    if (document.is_discarded() || !document.is_array()) {
        return std::nullopt;
    }
    std::vector<std::string> bookmarks;
    for (const auto& record : document) {
        // Like a strict decoder of the record type: other members are ignored, a missing or
        // malformed "bookmarkData" fails the whole list.
        if (!record.is_object()) {
            return std::nullopt;
        }
        const auto field = record.find("bookmarkData");
        if (field == record.end() || !field->is_string()) {
            return std::nullopt;
        }
        auto bytes = platform::decodeBase64(field->get_ref<const std::string&>());
        if (!bytes) {
            return std::nullopt;
        }
        bookmarks.push_back(std::move(*bytes));
    }
    return bookmarks;
}

void URLStore::load() {
    logger_.info("Loading stored URLs...");
    const std::optional<std::string> data = defaults_.data(kStorageKey);
    if (!data) {
        logger_.info("No stored data found. Starting empty.");
        urls_.clear();
        return;
    }
    const auto bookmarks = decode(*data);
    if (!bookmarks) {
        logger_.error("Failed to decode stored URLs.");
        return;
    }
    std::vector<platform::FileURL> restored;
    for (const auto& bookmark : *bookmarks) {
        const auto resolved = bookmarks_.resolve(bookmark);
        if (const auto* failure = std::get_if<platform::Bookmarks::Failure>(&resolved)) {
            logger_.error("Failed to resolve bookmark: %s", failure->reason);
            continue;
        }
        const auto& folder = std::get<platform::Bookmarks::Resolved>(resolved);
        restored.push_back(folder.url);
        logger_.debug("Restored URL: %s", folder.url.path());
        if (folder.isStale) {
            logger_.error("Bookmark is stale: %s", folder.url.path());
        }
    }
    urls_ = std::move(restored);
    logger_.info("Loaded %ld URLs from bookmarks.", urls_.size());
}

void URLStore::add(const platform::FileURL& url) {
    if (std::find(urls_.begin(), urls_.end(), url) != urls_.end()) {
        logger_.debug("URL already exists: %s", url.path());
        return;
    }
    urls_.push_back(url);
    logger_.info("Added URL: %s", url.path());
    save();
}

void URLStore::remove(const platform::FileURL& url) {
    const auto found = std::find(urls_.begin(), urls_.end(), url);
    if (found == urls_.end()) {
        logger_.debug("URL not stored: %s", url.path());
        return;
    }
    urls_.erase(found);
    logger_.info("Removed URL: %s", url.path());
    save();
}

void URLStore::save() {
    logger_.info("Saving %ld URLs...", urls_.size());
    std::vector<std::string> bookmarks;
    for (const auto& url : urls_) {
        auto created = bookmarks_.create(url);
        if (const auto* failure = std::get_if<platform::Bookmarks::Failure>(&created)) {
            logger_.error("Failed to create bookmark for %s: %s", url.path(), failure->reason);
            continue;
        }
        bookmarks.push_back(std::move(std::get<std::string>(created)));
    }
    defaults_.setData(kStorageKey, encode(bookmarks));
    logger_.info("Successfully saved bookmark URLs.");
}

}  // namespace quillon::monitor
