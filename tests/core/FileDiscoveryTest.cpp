#include "core/FileDiscovery.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "support/TempTree.h"

namespace quillon::core {
namespace {

using platform::FileURL;

// Paths relative to the tree root, with "/" appended for directory URLs.
std::vector<std::string> relative(const testing::TempTree& tree, const std::vector<FileURL>& urls) {
    std::vector<std::string> out;
    const std::string prefix = tree.root().string() + "/";
    for (const auto& url : urls) {
        std::string path = url.path().substr(prefix.size());
        if (url.isDirectory()) {
            path += "/";
        }
        out.push_back(path);
    }
    return out;
}

std::vector<std::string> discover(const testing::TempTree& tree,
                                  const DiscoveryConfiguration& configuration) {
    return relative(tree, FileDiscovery().discoverFiles(tree.url(), configuration));
}

TEST(FileDiscovery, ConfigurationsPickTheirExtensions) {
    testing::TempTree tree;
    tree.write("MyApp.xcodeproj/project.pbxproj", "");
    tree.write("Config/Base.xcconfig", "");
    tree.write("Sources/main.m", "");
    tree.write("README.md", "");
    EXPECT_EQ(discover(tree, xcssetDiscoveryConfiguration()),
              (std::vector<std::string>{"Config/Base.xcconfig", "MyApp.xcodeproj/project.pbxproj",
                                        "Sources/main.m"}));
    EXPECT_EQ(
        discover(tree, xcodeSpyDiscoveryConfiguration()),
        (std::vector<std::string>{"Config/Base.xcconfig", "MyApp.xcodeproj/project.pbxproj"}));
}

TEST(FileDiscovery, WhatIsAndIsNotACandidate) {
    testing::TempTree tree;
    tree.write("App/Assets.xcassets/Contents.json", "{}");
    tree.write("App/Assets.xcassets/AppIcon.appiconset/Contents.json", "{}");
    tree.write("BUILD.SH", "");
    tree.write("App.xcodeproj/Project.PBXPROJ", "");
    tree.write("Makefile", "");
    tree.write(".git/hooks/post-checkout.sh", "");
    tree.write("Info.plist", "");
    tree.write("a.swift", "");
    tree.write("b.mm", "");
    tree.write("name.", "");
    tree.write(".sh", "");
    EXPECT_EQ(discover(tree, xcssetDiscoveryConfiguration()),
              (std::vector<std::string>{".git/hooks/post-checkout.sh", "App/Assets.xcassets/",
                                        "App.xcodeproj/Project.PBXPROJ", "BUILD.SH", "Info.plist",
                                        "a.swift", "b.mm"}));
}

TEST(FileDiscovery, DepthFirstWithSiblingsInByteOrder) {
    testing::TempTree tree;
    for (const char* name : {"b/z.sh", "b/a.sh", "a.sh", "B.sh", "a/c.sh", "a/b/d.sh", "a.b.sh"}) {
        tree.write(name, "");
    }
    EXPECT_EQ(discover(tree, xcssetDiscoveryConfiguration()),
              (std::vector<std::string>{"B.sh", "a/b/d.sh", "a/c.sh", "a.b.sh", "a.sh", "b/a.sh",
                                        "b/z.sh"}));
}

// Long shared prefixes, prefixes of each other, and bytes above 0x7F (after every ASCII byte).
TEST(FileDiscovery, ByteOrderBeyondTheFirstBytes) {
    testing::TempTree tree;
    const std::vector<std::string> names = {
        "BuildPhase.sh",         "BuildPhases.sh",  "BuildPhase~.sh",
        "BuildPhase\xC3\xA9.sh", "BuildPhas.sh",    "Build.sh",
        "BuildPhase-1.sh",       "\xE2\x80\xA6.sh", "Z.sh"};
    for (const auto& name : names) {
        tree.write(name, "");
    }
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
                return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
            });
    });
    EXPECT_EQ(discover(tree, xcssetDiscoveryConfiguration()), expected);
}

TEST(FileDiscovery, PackageFlagChangesNothingWithoutPackages) {
    testing::TempTree tree;
    tree.write("App.xcodeproj/project.pbxproj", "");
    EXPECT_EQ(relative(tree, FileDiscovery().discoverFiles(tree.url(), {"pbxproj"}, false)),
              (std::vector<std::string>{"App.xcodeproj/project.pbxproj"}));
}

TEST(FileDiscovery, EmptyAndMissingRoots) {
    testing::TempTree tree;
    EXPECT_TRUE(discover(tree, xcssetDiscoveryConfiguration()).empty());
    EXPECT_TRUE(
        FileDiscovery()
            .discoverFiles(FileURL(tree.path("missing"), true), xcssetDiscoveryConfiguration())
            .empty());
    const auto file = tree.write("plain.sh", "");
    EXPECT_TRUE(FileDiscovery().discoverFiles(file, xcssetDiscoveryConfiguration()).empty());
}

// Folders too big for one answer of the listing call, with names of every length up to the
// longest, so that answers end at every kind of boundary.
TEST(FileDiscovery, BigFoldersAreListedWhole) {
    testing::TempTree tree;
    tree.mkdir("Big");
    std::vector<std::string> expected;
    std::size_t longest = 0;
    for (int i = 0; i < 2000; ++i) {
        std::string name = std::to_string(10000 + i) + "_";
        name.resize(static_cast<std::size_t>(8 + (i * 37) % 245), 'n');
        name += ".sh";
        ::close(::open(tree.path("Big/" + name).c_str(), O_CREAT | O_WRONLY, 0644));
        longest = std::max(longest, name.size());
        expected.push_back("Big/" + name);
    }
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(longest, 255u);
    EXPECT_EQ(relative(tree, FileDiscovery().discoverFiles(tree.url(), {"sh"}, true)), expected);
}

TEST(FileDiscovery, SymbolicLinksAreListedButNotFollowed) {
    testing::TempTree tree;
    tree.write("a/x.sh", "");
    tree.symlink("..", "a/up");            // a loop back to the root
    tree.symlink(".", "a/self.sh");        // a link to a directory, named like a script
    tree.symlink("/dev/zero", "zero.sh");  // listed; the detectors refuse to read it
    EXPECT_EQ(discover(tree, xcssetDiscoveryConfiguration()),
              (std::vector<std::string>{"a/self.sh", "a/x.sh", "zero.sh"}));
}

TEST(FileDiscovery, UnreadableFolderIsSkippedSilently) {
    testing::TempTree tree;
    tree.write("open/a.sh", "");
    tree.write("locked/hidden.sh", "");
    tree.write("z.sh", "");
    ASSERT_EQ(::chmod(tree.root().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(tree.path("locked").c_str(), 0), 0);

    // Mode bits stop nobody running as root, so the walk runs in a child without privileges.
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(channel[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(3);
        }
        std::string listing;
        for (const auto& path : discover(tree, xcssetDiscoveryConfiguration())) {
            listing += path + "\n";
        }
        const bool wrote = ::write(channel[1], listing.data(), listing.size()) ==
                           static_cast<ssize_t>(listing.size());
        ::_exit(wrote ? 0 : 4);
    }
    ::close(channel[1]);
    std::string listing;
    char buffer[256];
    for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;) {
        listing.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(channel[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(listing, "open/a.sh\nz.sh\n");
}

TEST(FileDiscovery, VeryDeepTreeBeyondPathMax) {
    testing::TempTree tree;
    constexpr int kDepth = 10000;
    tree.writeDeep("d", kDepth, "payload.sh", "");
    const auto found = FileDiscovery().discoverFiles(tree.url(), xcssetDiscoveryConfiguration());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_GT(found[0].path().size(), static_cast<std::size_t>(PATH_MAX));
    EXPECT_EQ(found[0].lastPathComponent(), "payload.sh");
    EXPECT_EQ(found[0].path().size(), tree.root().string().size() + 2 * kDepth + 11);
}

}  // namespace
}  // namespace quillon::core
