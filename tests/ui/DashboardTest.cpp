#include <QLabel>
#include <QScrollBar>

#include "UiFixture.h"
#include "ui/Spinner.h"

namespace quillon::ui::testing {
namespace {

using namespace std::chrono_literals;

TEST_F(DashboardFixture, HeaderTextsFontsAndSizes) {
    auto dashboard = makeDashboard();
    showAndRestore(*dashboard);
    EXPECT_EQ(dashboard->titleLabel()->text(), QString::fromUtf8("\U0001F981 Quillon For XCode"));
    EXPECT_EQ(dashboard->titleLabel()->font().pixelSize(), 32);
    EXPECT_EQ(dashboard->titleLabel()->font().weight(), QFont::Bold);
    EXPECT_EQ(dashboard->subtitleLabel()->text(),
              "Monitor your Xcode projects for suspicious build activity and malware indicators.");
    EXPECT_EQ(dashboard->subtitleLabel()->font().pixelSize(), 13);
    EXPECT_EQ(dashboard->monitoredCountLabel()->text(), "0 Projects Monitored");
    EXPECT_EQ(dashboard->monitoredCountLabel()->font().pixelSize(), 12);
    EXPECT_EQ(dashboard->monitoredCountLabel()->font().weight(), QFont::Medium);
    EXPECT_EQ(dashboard->addProjectButton()->text(), QString::fromUtf8("\uFF0B Add Project"));
    EXPECT_EQ(dashboard->generateSampleButton()->text(),
              QString::fromUtf8("\U0001F9EA Get Malware Sample"));
    EXPECT_EQ(dashboard->addProjectButton()->font().weight(), QFont::DemiBold);
    EXPECT_EQ(dashboard->window()->windowTitle(),
              QString::fromUtf8("\U0001F981 Quillon For XCode"));

    for (const QSize size : {QSize(900, 700), QSize(1400, 1000), QSize(820, 560)}) {
        SCOPED_TRACE(size.width());
        dashboard->resize(size);
        QApplication::processEvents();
        EXPECT_EQ(dashboard->addProjectButton()->size(), QSize(140, 38));
        EXPECT_EQ(dashboard->topContainer()->height(), 110);
        EXPECT_GE(dashboard->scrollView()->height(), 320);
        const QRect header = dashboard->topContainer()->geometry();
        const QRect list = dashboard->scrollView()->geometry();
        EXPECT_EQ(header.topLeft(), QPoint(24, 24));
        EXPECT_EQ(list.top() - header.bottom() - 1, 18);
        EXPECT_EQ(dashboard->width() - list.right() - 1, 24);
        EXPECT_EQ(dashboard->height() - list.bottom() - 1, 24);
        EXPECT_EQ(dashboard->dashboardContainer()->width(),
                  dashboard->scrollView()->viewport()->width());
    }
    EXPECT_GE(dashboard->minimumSizeHint().height(), 24 + 110 + 18 + 320 + 24);
}

TEST_F(DashboardFixture, EmptyStateCard) {
    auto dashboard = makeDashboard();
    showAndRestore(*dashboard);
    const auto cards = dashboard->cards();
    ASSERT_EQ(cards.size(), 1);
    auto* empty = qobject_cast<EmptyStateCard*>(cards[0]);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->size(), QSize(700, 160));
    EXPECT_EQ(empty->titleLabel()->text(), "No monitored projects");
    EXPECT_EQ(empty->messageLabel()->text(),
              "Add an Xcode project to begin background monitoring.");
    EXPECT_LT(empty->titleLabel()->geometry().bottom(), empty->messageLabel()->geometry().top());
    EXPECT_NEAR(empty->titleLabel()->geometry().center().x(), 350, 2);
}

TEST_F(DashboardFixture, CardStatesAndColours) {
    const Appearance appearance = currentAppearance();
    const auto now = std::chrono::system_clock::now();
    const struct {
        const char* name;
        bool scanning;
        bool infected;
        std::optional<std::chrono::system_clock::time_point> date;
        const char* status;
        NamedColor colour;
        QColor background;
        QColor border;
        const char* lastScan;
    } cases[] = {
        {"neverScanned", false, false, std::nullopt, "Protected", NamedColor::systemGreen,
         namedColor(NamedColor::controlBackground, appearance),
         namedColor(NamedColor::separator, appearance, 0.3), "Waiting for initial scan..."},
        {"scanningBeatsThreat", true, true, now - 120s, "Scanning", NamedColor::systemBlue,
         namedColor(NamedColor::systemBlue, appearance, 0.1),
         namedColor(NamedColor::systemBlue, appearance, 0.25), "Last scanned 2 minutes ago"},
        {"threat", false, true, now - 5s, "Threat Detected", NamedColor::systemRed,
         namedColor(NamedColor::systemRed, appearance, 0.12),
         namedColor(NamedColor::systemRed, appearance, 0.25), "Last scanned 5 seconds ago"},
        {"protected", false, false, now - 3600s, "Protected", NamedColor::systemGreen,
         namedColor(NamedColor::controlBackground, appearance),
         namedColor(NamedColor::separator, appearance, 0.3), "Last scanned 1 hour ago"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        monitor::ProjectMonitor monitor(platform::FileURL("/Users/dev/Projects/MyApp", true));
        monitor.isScanning = c.scanning;
        monitor.isInfected = c.infected;
        monitor.lastScanDate = c.date;
        ProjectCard card(monitor, appearance, now);
        EXPECT_EQ(card.statusLabel()->text(), c.status);
        EXPECT_EQ(card.state().statusColor, c.colour);
        EXPECT_EQ(card.state().background, c.background);
        EXPECT_EQ(card.state().border, c.border);
        EXPECT_EQ(card.lastScanLabel()->text(), QString::fromUtf8(c.lastScan));
        EXPECT_EQ(card.nameLabel()->fullText(), "MyApp");
        EXPECT_EQ(card.pathLabel()->fullText(), "/Users/dev/Projects/MyApp");
        EXPECT_EQ(card.width(), 700);
        EXPECT_EQ(card.statusDot()->size(), QSize(10, 10));
        EXPECT_EQ(card.nameLabel()->font().pixelSize(), 16);
        EXPECT_EQ(card.pathLabel()->font().pixelSize(), 11);
    }
}

TEST_F(DashboardFixture, LongPathIsShortenedInTheMiddle) {
    const std::string longName(120, 'N');
    monitor::ProjectMonitor monitor(platform::FileURL("/very/long/" + longName + "/End", true));
    ProjectCard card(monitor, Appearance::light, std::chrono::system_clock::now());
    card.show();
    QApplication::processEvents();
    EXPECT_EQ(card.width(), 700);
    const QString shown = card.pathLabel()->text();
    EXPECT_TRUE(shown.contains(QChar(0x2026)));
    EXPECT_TRUE(shown.startsWith("/very"));
    EXPECT_TRUE(shown.endsWith("/End"));
}

TEST_F(DashboardFixture, AddsShowNewestFirstAndSurviveARestart) {
    const auto a = project("Alpha"), b = project("Beta");
    {
        auto dashboard = makeDashboard();
        showAndRestore(*dashboard);
        chooser.next = a;
        dashboard->addProjectButton()->click();
        chooser.next = b;
        dashboard->addProjectButton()->click();
        chooser.next = b;  // a duplicate changes nothing
        dashboard->addProjectButton()->click();
        tree.write("Plain/readme.txt", "");
        chooser.next = platform::FileURL(tree.path("Plain"), true);  // no project: refused
        dashboard->addProjectButton()->click();
        EXPECT_EQ(cardNames(*dashboard), (QStringList{"Beta", "Alpha"}));
        EXPECT_EQ(dashboard->monitoredCountLabel()->text(), "2 Projects Monitored");
        EXPECT_EQ(chooser.titles.front(),
                  "Select Xcode Project Folder | Choose a folder containing an Xcode project or "
                  "workspace.");
    }
    auto restarted = makeDashboard();
    showAndRestore(*restarted);
    EXPECT_EQ(cardNames(*restarted), (QStringList{"Beta", "Alpha"}));
    chooser.next = project("Gamma");
    restarted->addProjectButton()->click();
    EXPECT_EQ(cardNames(*restarted), (QStringList{"Gamma", "Beta", "Alpha"}));
    EXPECT_EQ(restarted->monitoredCountLabel()->text(), "3 Projects Monitored");
}

TEST_F(DashboardFixture, SingularCount) {
    chooser.next = project("Solo");
    auto dashboard = makeDashboard();
    showAndRestore(*dashboard);
    dashboard->addProjectButton()->click();
    EXPECT_EQ(dashboard->monitoredCountLabel()->text(), "1 Project Monitored");
}

TEST_F(DashboardFixture, OverlayShowsOnEveryAppearanceUntilRestored) {
    auto dashboard = makeDashboard(300ms);
    dashboard->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dashboard->loadingOverlay()->isVisible(); }, 2000));
    EXPECT_TRUE(dashboard->loadingSpinner()->isAnimating());
    EXPECT_EQ(dashboard->loadingOverlay()->geometry(), dashboard->rect());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dashboard->loadingOverlay()->isVisible(); }, 5000));
    EXPECT_FALSE(dashboard->loadingSpinner()->isAnimating());

    dashboard->hide();
    dashboard->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dashboard->loadingOverlay()->isVisible(); }, 2000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dashboard->loadingOverlay()->isVisible(); }, 5000));
}

TEST_F(DashboardFixture, SampleButtonOpensTheSamplePageOnly) {
    auto dashboard = makeDashboard();
    showAndRestore(*dashboard);
    const auto before = dashboard->cards();
    dashboard->generateSampleButton()->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl("file:///samples/README.md"));
    EXPECT_EQ(dashboard->cards().size(), before.size());
}

TEST_F(DashboardFixture, LiveMonitorChangesReachTheCards) {
    chooser.next = project("Live");
    auto dashboard = makeDashboard();
    showAndRestore(*dashboard);
    dashboard->addProjectButton()->click();
    auto monitor = dashboard->registry().projects().front();
    monitor->isScanning = true;
    dashboard->rebuildDashboard();
    EXPECT_EQ(qobject_cast<ProjectCard*>(dashboard->cards()[0])->statusLabel()->text(), "Scanning");
    monitor->isScanning = false;
    monitor->isInfected = true;
    monitor->lastScanDate = std::chrono::system_clock::now();
    dashboard->rebuildDashboard();
    EXPECT_EQ(qobject_cast<ProjectCard*>(dashboard->cards()[0])->statusLabel()->text(),
              "Threat Detected");
}

}  // namespace
}  // namespace quillon::ui::testing
