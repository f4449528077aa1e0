#include "platform/Bookmarks.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempTree.h"

namespace quillon::platform {
namespace {

TEST(Bookmarks, ResolveBackToTheFolder) {
    testing::TempTree tree;
    tree.mkdir("App");
    const FileURL folder(tree.path("App"), true);
    const auto created = systemBookmarks().create(folder);
    ASSERT_TRUE(std::holds_alternative<std::string>(created));
    const auto resolved = systemBookmarks().resolve(std::get<std::string>(created));
    ASSERT_TRUE(std::holds_alternative<Bookmarks::Resolved>(resolved));
    EXPECT_EQ(std::get<Bookmarks::Resolved>(resolved).url, folder);
    EXPECT_FALSE(std::get<Bookmarks::Resolved>(resolved).isStale);
}

TEST(Bookmarks, FailuresAndStaleness) {
    testing::TempTree tree;
    tree.mkdir("App");
    const FileURL folder(tree.path("App"), true);
    const std::string bytes = std::get<std::string>(systemBookmarks().create(folder));

    tree.mkdir("Other");  // made while App exists, so it cannot reuse App's inode
    tree.remove("App");
    std::filesystem::rename(tree.path("Other"), tree.path("App"));
    const auto stale = systemBookmarks().resolve(bytes);
    ASSERT_TRUE(std::holds_alternative<Bookmarks::Resolved>(stale));
    EXPECT_TRUE(std::get<Bookmarks::Resolved>(stale).isStale);

    tree.remove("App");
    tree.write("App", "now a file");
    const auto notFolder = systemBookmarks().resolve(bytes);
    ASSERT_TRUE(std::holds_alternative<Bookmarks::Failure>(notFolder));
    EXPECT_NE(std::get<Bookmarks::Failure>(notFolder).reason.find("not a folder"),
              std::string::npos);

    tree.remove("App");
    const auto missing = systemBookmarks().resolve(bytes);
    ASSERT_TRUE(std::holds_alternative<Bookmarks::Failure>(missing));
    EXPECT_NE(std::get<Bookmarks::Failure>(missing).reason.find("no longer exists"),
              std::string::npos);

    for (const char* garbage : {"", "quillon-bookmark-1\nx\n1\n/p", "something else"}) {
        SCOPED_TRACE(garbage);
        EXPECT_TRUE(std::holds_alternative<Bookmarks::Failure>(systemBookmarks().resolve(garbage)));
    }
    EXPECT_TRUE(std::holds_alternative<Bookmarks::Failure>(
        systemBookmarks().create(FileURL(tree.path("nothing"), true))));
}

}  // namespace
}  // namespace quillon::platform
