#include "platform/MountTable.h"

#include <gtest/gtest.h>

namespace quillon::platform {
namespace {

TEST(MountTable, ReadsMountPointsWithTheirEscapes) {
    const std::string table =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "35 22 0:30 / /home/dev/My\\040Projects/fuse rw - fuse.sshfs host: rw\n"
        "36 22 0:31 /sub /mnt/back\\134slash rw - tmpfs tmpfs rw\n"
        "garbage\n"
        "\n";
    EXPECT_EQ(mountPointsIn(table),
              (std::vector<std::string>{"/", "/home/dev/My Projects/fuse", "/mnt/back\\slash"}));
}

TEST(MountTable, MountsBelowAFolder) {
    const std::vector<std::string> points = {"/", "/home/dev/work/App/remote", "/mnt"};
    struct Case {
        const char* directory;
        bool below;
    };
    for (const Case& c :
         {Case{"/home/dev/work", true}, Case{"/home/dev/work/", true},
          Case{"/home/dev/work/App/remote", false}, Case{"/home/dev/work/Ap", false},
          Case{"/home/dev/other", false}, Case{"/", true}, Case{"/mn", false}}) {
        SCOPED_TRACE(c.directory);
        EXPECT_EQ(hasMountBelow(points, c.directory), c.below);
    }
    EXPECT_FALSE(hasMountBelow({"/"}, "/"));
}

TEST(MountTable, ThisProcessHasARootMount) {
#ifdef __linux__
    const auto points = currentMountPoints();
    ASSERT_TRUE(points.has_value());
    EXPECT_NE(std::find(points->begin(), points->end(), "/"), points->end());
#endif
}

}  // namespace
}  // namespace quillon::platform
