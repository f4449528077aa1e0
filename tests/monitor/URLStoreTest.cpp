#include "monitor/URLStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/Base64.h"
#include "support/LogCapture.h"
#include "support/TempTree.h"

namespace quillon::monitor {
namespace {

using platform::FileURL;
using Strings = std::vector<std::string>;

class URLStoreTest : public ::testing::Test {
  protected:
    FileURL folder(const std::string& name) {
        tree.mkdir(name);
        return FileURL(tree.path(name), true);
    }
    std::vector<FileURL> loadFresh() {
        URLStore fresh(defaults, platform::systemBookmarks());
        fresh.load();
        return fresh.urls();
    }
    std::size_t storedCount() {
        return nlohmann::json::parse(*defaults.data(URLStore::kStorageKey)).size();
    }

    testing::TempTree tree;
    platform::MemoryDefaults defaults;
    URLStore store{defaults, platform::systemBookmarks()};
    testing::LogCapture log;
};

TEST_F(URLStoreTest, FirstLaunchStartsEmpty) {
    store.load();
    EXPECT_TRUE(store.urls().empty());
    EXPECT_EQ(log.leveled("URLStore"), (Strings{"info Loading stored URLs...",
                                                "info No stored data found. Starting empty."}));
    EXPECT_EQ(log.records().front().subsystem, "com.urlstore.app");
}

TEST_F(URLStoreTest, AddingTwiceKeepsOneAndWritesOnce) {
    const FileURL a = folder("A");
    store.add(a);
    store.add(a);
    EXPECT_EQ(store.urls(), std::vector<FileURL>{a});
    EXPECT_EQ(defaults.writeCount(), 1);
    EXPECT_EQ(log.leveled("URLStore"),
              (Strings{"info Added URL: " + a.path(), "info Saving 1 URLs...",
                       "info Successfully saved bookmark URLs.",
                       "debug URL already exists: " + a.path()}));
}

TEST_F(URLStoreTest, OrderSurvivesARestartInTheStoredShape) {
    const FileURL a = folder("A"), b = folder("B"), c = folder("C");
    store.add(a);
    store.add(b);
    store.add(c);
    const auto stored = nlohmann::json::parse(*defaults.data(URLStore::kStorageKey));
    ASSERT_TRUE(stored.is_array());
    ASSERT_EQ(stored.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(stored[i].size(), 1u);
        const auto bytes = platform::decodeBase64(stored[i]["bookmarkData"].get<std::string>());
        ASSERT_TRUE(bytes);
        EXPECT_NE(bytes->find(std::vector<FileURL>{a, b, c}[i].path()), std::string::npos);
    }
    log.clear();
    EXPECT_EQ(loadFresh(), (std::vector<FileURL>{a, b, c}));
    EXPECT_EQ(log.leveled("URLStore").back(), "info Loaded 3 URLs from bookmarks.");
}

TEST_F(URLStoreTest, UndecodableDataIsLeftInPlace) {
    for (const char* data : {"not json", "{\"bookmarkData\": \"\"}", "[{\"other\": 1}]",
                             "[{\"bookmarkData\": \"@@@\"}]", "[1]"}) {
        SCOPED_TRACE(data);
        defaults.setData(URLStore::kStorageKey, data);
        log.clear();
        URLStore fresh(defaults, platform::systemBookmarks());
        fresh.load();
        EXPECT_TRUE(fresh.urls().empty());
        EXPECT_EQ(log.leveled("URLStore").back(), "error Failed to decode stored URLs.");
        EXPECT_EQ(defaults.data(URLStore::kStorageKey), data);
    }
}

TEST_F(URLStoreTest, DeletedFolderIsDroppedOnLoadAndFromTheNextSave) {
    const FileURL a = folder("A"), b = folder("B");
    store.add(a);
    store.add(b);
    tree.remove("A");
    URLStore fresh(defaults, platform::systemBookmarks());
    log.clear();
    fresh.load();
    EXPECT_EQ(fresh.urls(), std::vector<FileURL>{b});
    const Strings lines = log.leveled("URLStore");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const auto& l) {
                                return l.starts_with("error Failed to resolve bookmark: ");
                            }),
              1);
    EXPECT_EQ(storedCount(), 2u);  // untouched until the next save
    fresh.save();
    EXPECT_EQ(storedCount(), 1u);
}

TEST_F(URLStoreTest, StaleBookmarkIsKeptAndReported) {
    const FileURL a = folder("A");
    store.add(a);
    tree.mkdir("Replacement");
    tree.remove("A");
    std::filesystem::rename(tree.path("Replacement"), tree.path("A"));
    log.clear();
    EXPECT_EQ(loadFresh(), std::vector<FileURL>{a});
    EXPECT_EQ(
        log.leveled("URLStore"),
        (Strings{"info Loading stored URLs...", "debug Restored URL: " + a.path(),
                 "error Bookmark is stale: " + a.path(), "info Loaded 1 URLs from bookmarks."}));
}

TEST_F(URLStoreTest, FolderWithoutABookmarkIsLeftOutOfTheSave) {
    const FileURL a = folder("A"), b = folder("B");
    store.add(a);
    tree.remove("A");
    store.add(b);
    EXPECT_EQ(store.urls(), (std::vector<FileURL>{a, b}));
    EXPECT_EQ(storedCount(), 1u);
    const Strings lines = log.leveled("URLStore");
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const auto& l) {
        return l.starts_with("error Failed to create bookmark for " + a.path() + ": ");
    }));
}

}  // namespace
}  // namespace quillon::monitor
