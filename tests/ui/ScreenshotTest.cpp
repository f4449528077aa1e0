// Renders the windows in each state, light and dark, to PNG files for a reviewer to look at.
#include <QDir>
#include <QLabel>

#include "UiFixture.h"
#include "monitor/RunOutcome.h"
#include "scan/ScanPipelines.h"
#include "ui/ProjectDetails.h"
#include "ui/ViewController.h"

namespace quillon::ui::testing {
namespace {

using namespace std::chrono_literals;

class Screenshots : public DashboardFixture, public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        qputenv("QUILLON_APPEARANCE", GetParam());
        QDir().mkpath(QUILLON_SCREENSHOT_DIR);
    }
    void TearDown() override {
        qunsetenv("QUILLON_APPEARANCE");
        DashboardFixture::TearDown();
    }
    void save(QWidget& widget, const QString& name) {
        QApplication::processEvents();
        const QString path =
            QStringLiteral(QUILLON_SCREENSHOT_DIR "/%1-%2.png").arg(name, GetParam());
        ASSERT_TRUE(widget.grab().save(path)) << path.toStdString();
    }
};

TEST_P(Screenshots, Dashboard) {
    auto dashboard = makeDashboard(50ms);
    dashboard->resize(820, 640);
    dashboard->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dashboard->loadingOverlay()->isVisible(); }, 2000));
    save(*dashboard, "dashboard-loading");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dashboard->loadingOverlay()->isVisible(); }, 5000));
    save(*dashboard, "dashboard-empty");

    for (const char* name :
         {"WeatherKit Demo", "PaymentsSDK",
          "Legacy Client With A Rather Long Folder Name That Will Not Fit", "MyApp"}) {
        chooser.next = project(name);
        dashboard->addProjectButton()->click();
    }
    const auto& projects = dashboard->registry().projects();
    projects[0]->isScanning = true;
    projects[1]->isInfected = true;
    projects[1]->lastScanDate = std::chrono::system_clock::now() - 40s;
    projects[2]->lastScanDate = std::chrono::system_clock::now() - 3min;
    dashboard->rebuildDashboard();
    save(*dashboard, "dashboard-cards");
}

TEST_P(Screenshots, ThreatReasonAndDetails) {
    auto dashboard = makeDashboard(20ms);
    dashboard->resize(820, 640);
    showAndRestore(*dashboard);
    chooser.next = project("PaymentsSDK");
    dashboard->addProjectButton()->click();
    const platform::FileURL sample(QUILLON_SAMPLES_DIR "/NestedDecodePhase", true);
    chooser.next = sample;
    dashboard->addProjectButton()->click();
    auto monitor = dashboard->registry().projects().front();
    auto outcome =
        monitor::outcomeOf(scan::runBuildScriptsPipeline(sample, platform::nullOutput()), sample);
    monitor->isInfected = true;
    monitor->lastScanDate = std::chrono::system_clock::now() - 20s;
    monitor->findings = outcome.findings;
    dashboard->registry().projects()[1]->lastScanDate = std::chrono::system_clock::now() - 1min;
    dashboard->rebuildDashboard();
    save(*dashboard, "dashboard-threat-reason");

    dashboard->showDetails(monitor);
    ProjectDetails* details = dashboard->details(*monitor);
    ASSERT_NE(details, nullptr);
    details->resize(820, 900);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(details));
    save(*details, "details-threat");

    // One accepted, the other still open.
    dashboard->registry().acceptFinding(monitor, monitor->findings[1], "reviewed: fixture only");
    details->refresh();
    save(*details, "details-accepted");
}

TEST_P(Screenshots, SingleProjectWindow) {
    ViewController window(chooser, queue, [](const platform::FileURL& folder) {
        return folder.lastPathComponent() != "Infected";
    });
    window.resize(560, 420);
    window.show();
    save(window, "single-idle");
    for (const char* name : {"Clean", "Infected"}) {
        chooser.next = project(name);
        window.selectButton()->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.selectButton()->isEnabled(); }, 5000));
        save(window, QStringLiteral("single-%1").arg(QString(name).toLower()));
    }
}

INSTANTIATE_TEST_SUITE_P(Appearances, Screenshots, ::testing::Values("light", "dark"),
                         [](const auto& row) { return std::string(row.param); });

}  // namespace
}  // namespace quillon::ui::testing
