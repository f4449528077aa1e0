#include "platform/FileURL.h"

#include <gtest/gtest.h>

#include "platform/Unicode.h"
#include "support/RowName.h"

namespace quillon::platform {
namespace {

struct UrlCase {
    const char* name;
    const char* path;
    bool isDirectory;
    const char* path_;
    const char* absolute;
    const char* last;
    const char* extension;
    friend void PrintTo(const UrlCase& row, std::ostream* os) { *os << row.name; }
};

class FileURLCases : public ::testing::TestWithParam<UrlCase> {};

TEST_P(FileURLCases, PartsOfTheURL) {
    const UrlCase& c = GetParam();
    const FileURL url(c.path, c.isDirectory);
    EXPECT_EQ(url.path(), c.path_);
    EXPECT_EQ(url.absoluteString(), c.absolute);
    EXPECT_EQ(url.lastPathComponent(), c.last);
    EXPECT_EQ(url.pathExtension(), c.extension);
    EXPECT_EQ(LowercaseExtension(url).view(), lowercase(url.pathExtension()));
}

TEST(LowercaseExtension, FoldsAsLowercaseDoesWithoutAllocatingShortAsciiOnes) {
    for (const char* name : {"PROJECT.PBXPROJ", "build.Sh", "no-dot", ".hidden", "dot.", "a.b.C",
                             "long.ABCDEFGHIJKLMNOPQRSTUVWXYZ", "kelvin.\u212Aml",
                             "accent.\u00C9X", "x.\xFF"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(LowercaseExtension(std::string_view(name)).view(),
                  lowercase(pathExtensionOf(name)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FileURLCases,
    ::testing::Values(
        UrlCase{"plainFile", "/p/App/project.pbxproj", false, "/p/App/project.pbxproj",
                "file:///p/App/project.pbxproj", "project.pbxproj", "pbxproj"},
        UrlCase{"directoryGetsSlash", "/p/App", true, "/p/App", "file:///p/App/", "App", ""},
        UrlCase{"trailingSlashDropped", "/p/App///", true, "/p/App", "file:///p/App/", "App", ""},
        UrlCase{"root", "/", true, "/", "file:///", "/", ""},
        UrlCase{"spaceAndPercent", "/p/My App/100%.sh", false, "/p/My App/100%.sh",
                "file:///p/My%20App/100%25.sh", "100%.sh", "sh"},
        UrlCase{"subDelimitersKept", "/p/a-b._~!$&'()*+,;=:@", false, "/p/a-b._~!$&'()*+,;=:@",
                "file:///p/a-b._~!$&'()*+,;=:@", "a-b._~!$&'()*+,;=:@", "_~!$&'()*+,;=:@"},
        UrlCase{"reservedEncoded", "/p/a#b?c[d]\"e", false, "/p/a#b?c[d]\"e",
                "file:///p/a%23b%3Fc%5Bd%5D%22e", "a#b?c[d]\"e", ""},
        UrlCase{"utf8Bytes", "/p/caf\xC3\xA9.sh", false, "/p/caf\xC3\xA9.sh",
                "file:///p/caf%C3%A9.sh", "caf\xC3\xA9.sh", "sh"},
        UrlCase{"hiddenNameHasNoExtension", "/p/.gitignore", false, "/p/.gitignore",
                "file:///p/.gitignore", ".gitignore", ""},
        UrlCase{"hiddenNameWithExtension", "/p/.env.sh", false, "/p/.env.sh", "file:///p/.env.sh",
                ".env.sh", "sh"},
        UrlCase{"trailingDot", "/p/name.", false, "/p/name.", "file:///p/name.", "name.", ""},
        UrlCase{"noDot", "/p/Makefile", false, "/p/Makefile", "file:///p/Makefile", "Makefile", ""},
        UrlCase{"capitals", "/p/BUILD.SH", false, "/p/BUILD.SH", "file:///p/BUILD.SH", "BUILD.SH",
                "SH"},
        UrlCase{"directoryWithExtension", "/p/Assets.xcassets", true, "/p/Assets.xcassets",
                "file:///p/Assets.xcassets/", "Assets.xcassets", "xcassets"}),
    testing::RowName());

TEST(FileURL, EqualityIsByAbsoluteString) {
    EXPECT_EQ(FileURL("/p/App", true), FileURL("/p/App/", true));
    EXPECT_EQ(FileURL::adopting("/p/App//", true), FileURL("/p/App", true));
    EXPECT_EQ(FileURL::adopting("App", false),
              FileURL("App", false));  // against the current folder
    EXPECT_FALSE(FileURL("/p/App", true) == FileURL("/p/App", false));
    EXPECT_FALSE(FileURL("/p/App", true) == FileURL("/p/app", true));
    EXPECT_EQ(FileURL("/", true), FileURL("/", false));  // both "file:///"
    EXPECT_EQ(FileURL("/", false).absoluteString(), "file:///");
}

TEST(FileURL, RelativePathIsResolvedAgainstTheWorkingDirectory) {
    const FileURL url("some/file.sh", false);
    ASSERT_FALSE(url.path().empty());
    EXPECT_EQ(url.path().front(), '/');
    EXPECT_TRUE(url.path().ends_with("/some/file.sh"));
}

TEST(FileURL, AppendingAComponent) {
    EXPECT_EQ(FileURL("/p", true).appendingPathComponent("a.sh", false).path(), "/p/a.sh");
    EXPECT_EQ(FileURL("/", true).appendingPathComponent("a", true).absoluteString(), "file:///a/");
}

}  // namespace
}  // namespace quillon::platform
