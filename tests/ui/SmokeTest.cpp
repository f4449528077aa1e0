// Starts the real application in an X server with one stored project and follows its first
// scan cycle through the log on standard error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "monitor/URLStore.h"
#include "platform/Bookmarks.h"
#include "platform/qt/QSettingsDefaults.h"
#include "support/Process.h"
#include "support/TempTree.h"

namespace quillon::ui {
namespace {

bool onPath(const char* program) {
    const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

TEST(DesktopSmoke, FirstScanCycleReachesTheDashboard) {
    if (!onPath("xvfb-run")) {
        GTEST_SKIP() << "xvfb-run is not installed (Debian package xvfb)";
    }
    quillon::testing::TempTree tree;
    tree.write("SmokeApp/SmokeApp.xcodeproj/project.pbxproj", "// !$*UTF8*$!");
    tree.mkdir("config");
    // Before any settings object exists, so that ours and the application's share the folder.
    ::setenv("XDG_CONFIG_HOME", tree.path("config").c_str(), 1);
    {
        platform::qt::QSettingsDefaults defaults;
        monitor::URLStore store(defaults, platform::systemBookmarks());
        store.add(platform::FileURL(tree.path("SmokeApp"), true));
    }

    const std::string cycleDone = "Scan cycle 1 completed: CLEAN (SmokeApp)";
    const auto result = quillon::testing::runProcessUntil(
        {"xvfb-run", "-a", "-s", "-screen 0 1280x900x24", QUILLON_APP_EXE},
        {"QUILLON_LOG_LEVEL=debug", "XDG_CONFIG_HOME=" + tree.path("config"),
         "QT_QPA_PLATFORM=xcb"},
        [&](const std::string& err) {
            const auto at = err.find(cycleDone);
            return at != std::string::npos &&
                   err.find("Dashboard rebuilt with 1 cards", at) != std::string::npos;
        },
        std::chrono::seconds(60));
    EXPECT_NE(result.err.find("info com.quillon BackgroundScan Starting background scan loop for "
                              "project: SmokeApp"),
              std::string::npos)
        << result.err;
    const auto at = result.err.find(cycleDone);
    ASSERT_NE(at, std::string::npos) << result.err;
    EXPECT_NE(result.err.find("Dashboard rebuilt with 1 cards", at), std::string::npos);
    EXPECT_NE(result.out.find("[file://" + tree.path("SmokeApp") + "/]"), std::string::npos)
        << result.out;
}

}  // namespace
}  // namespace quillon::ui
