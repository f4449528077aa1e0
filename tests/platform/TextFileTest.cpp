#include "platform/TextFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include "support/RowName.h"

#include <chrono>

#include "support/TempTree.h"

namespace quillon::platform {
namespace {

using namespace std::string_literals;

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::string text;
    friend void PrintTo(const DecodeCase& row, std::ostream* os) { *os << row.name; }
};

class DecodeCases : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeCases, DecodesByMarkOrContent) {
    testing::TempTree tree;
    tree.write("f.sh", GetParam().bytes);
    const auto text = readTextFile(tree.path("f.sh"));
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeCases,
    ::testing::Values(DecodeCase{"utf8", "echo caf\xC3\xA9\n", "echo caf\xC3\xA9\n"},
                      DecodeCase{"utf8WithMark", "\xEF\xBB\xBFshellScript", "shellScript"},
                      DecodeCase{"empty", "", ""},
                      DecodeCase{"utf16LittleEndian",
                                 "\xFF\xFE"
                                 "c\0u\0r\0l\0 \0\xE9\0"s,
                                 "curl \xC3\xA9"},
                      DecodeCase{"utf16BigEndian", "\xFE\xFF\0c\0u\0r\0l"s, "curl"},
                      DecodeCase{"utf16SurrogatePair", "\xFF\xFE\x3D\xD8\x00\xDE"s,
                                 "\xF0\x9F\x98\x80"},
                      DecodeCase{"utf16LoneSurrogate",
                                 "\xFF\xFE\x3D\xD8"
                                 "a\0"s,
                                 "\xEF\xBF\xBD"
                                 "a"},
                      DecodeCase{"utf32LittleEndian",
                                 "\xFF\xFE\0\0"
                                 "a\0\0\0"s,
                                 "a"},
                      DecodeCase{"utf32BigEndian", "\0\0\xFE\xFF\0\0\0a"s, "a"},
                      // One stray byte must not hide the rest of a script.
                      DecodeCase{"invalidUtf8IsLatin1", "curl x | sh \xFF", "curl x | sh \xC3\xBF"},
                      DecodeCase{"truncatedSequence", "a\xC3", "a\xC3\x83"},
                      DecodeCase{"overlongIsLatin1", "\xC0\xAF", "\xC3\x80\xC2\xAF"}),
    testing::RowName());

TEST(TextFile, SpecialFilesCannotBeReadAndNeverBlock) {
    testing::TempTree tree;
    tree.mkdir("Assets.xcassets");
    ASSERT_EQ(::mkfifo(tree.path("pipe.sh").c_str(), 0600), 0);
    tree.symlink("/dev/zero", "zero.pbxproj");
    tree.symlink(tree.path("pipe.sh"), "link-to-pipe.sh");
    const auto started = std::chrono::steady_clock::now();
    for (const char* name :
         {"Assets.xcassets", "pipe.sh", "zero.pbxproj", "link-to-pipe.sh", "missing.sh"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(readTextFile(tree.path(name)).has_value());
    }
    // A blocking open of the FIFO would never return; reaching this line is the check.
    SUCCEED() << std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

TEST(TextFile, ReadsAFileBeyondPathMax) {
    testing::TempTree tree;
    const std::string file = tree.writeDeep("deep", PATH_MAX / 5 + 1, "run.sh", "chmod +x a");
    ASSERT_GT(file.size(), static_cast<std::size_t>(PATH_MAX));
    const std::string path = file.substr(0, file.size() - 7);
    EXPECT_EQ(readTextFile(path + "/run.sh"), "chmod +x a");
    EXPECT_FALSE(readTextFile(path + "/missing.sh").has_value());
}

TEST(TextFile, FollowsALinkToARegularFile) {
    testing::TempTree tree;
    tree.write("real.sh", "echo hi");
    tree.symlink(tree.path("real.sh"), "link.sh");
    EXPECT_EQ(readTextFile(tree.path("link.sh")), "echo hi");
}

}  // namespace
}  // namespace quillon::platform
