// What a cycle leaves on the record beyond its verdict, and what the user can do with it:
// accept findings, rescan now, remove the project; and the alerts a new threat raises.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "monitor/ProjectRegistry.h"
#include "report/Baseline.h"
#include "support/LogCapture.h"
#include "support/MonitorFakes.h"
#include "support/TempTree.h"

namespace quillon::monitor {
namespace {

using platform::FileURL;
using Strings = std::vector<std::string>;

core::Finding finding(const std::string& rule, core::Severity severity, const std::string& file,
                      const std::string& fingerprint) {
    core::Finding out;
    out.ruleId = rule;
    out.severity = severity;
    out.title = rule + " title";
    out.location.file = file;
    out.location.container = "Run Script";
    out.location.containerKind = "build phase";
    out.fingerprint = fingerprint;
    return out;
}

bool waitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 5000 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

// Pipelines whose outcomes the test sets between cycles.
class FindingsOnRecord : public ::testing::Test {
  protected:
    void SetUp() override {
        tree.write("MyApp/MyApp.xcodeproj/project.pbxproj", "// !$*UTF8*$!");
        folder = FileURL(tree.path("MyApp"), true);
        store = std::make_shared<URLStore>(defaults, platform::systemBookmarks());
        CyclePipelines pipelines =
            fakes::cycleOf([this](const FileURL&) { return take("xcsset", xcsset); },
                           [this](const FileURL&) { return take("xcodespy", xcodeSpy); },
                           [this](const FileURL&) { return take("buildscripts", scripts); });
        registry = ProjectRegistry::create({queue, std::make_shared<fakes::FakeClock>(), pause,
                                            workers.starter(), std::move(pipelines), store,
                                            &platform::systemBookmarks(), nullptr,
                                            &platform::nullOutput(), accepted, &notifier});
        registry->attachDashboard(&dashboard);
    }
    void TearDown() override {
        pause->stop();
        workers.join();
        queue->drain();
    }

    PipelineOutcome take(const char* name, const PipelineOutcome& outcome) {
        std::lock_guard lock(mutex);
        calls.emplace_back(name);
        return outcome;
    }
    Strings takeCalls() {
        std::lock_guard lock(mutex);
        return std::exchange(calls, {});
    }
    // Sets what the next cycles find; only between cycles, while the loop sleeps.
    void find(PipelineOutcome classic, PipelineOutcome buildScripts) {
        std::lock_guard lock(mutex);
        xcsset = std::move(classic);
        scripts = std::move(buildScripts);
    }
    std::shared_ptr<ProjectMonitor> addAndScan() {
        EXPECT_TRUE(registry->addFolder(folder));
        pause->waitForSleeps(1);
        queue->drain();
        return registry->projects().front();
    }
    // Lets the loop run cycle `n` (counted from 1) and applies its main-queue tasks.
    void completeCycle(int n) {
        pause->release();
        pause->waitForSleeps(n);
        queue->drain();
    }

    static PipelineOutcome threat(std::vector<core::Finding> findings) {
        PipelineOutcome out(false);
        out.findings = std::move(findings);
        return out;
    }

    testing::TempTree tree;
    FileURL folder{"/", true};
    std::shared_ptr<fakes::FakeMainQueue> queue = std::make_shared<fakes::FakeMainQueue>();
    std::shared_ptr<fakes::GatedPause> pause = std::make_shared<fakes::GatedPause>();
    fakes::Workers workers;
    fakes::FakeDashboard dashboard;
    fakes::FakeNotifier notifier;
    platform::MemoryDefaults defaults;
    std::shared_ptr<AcceptedFindings> accepted = std::make_shared<AcceptedFindings>(defaults);
    std::shared_ptr<URLStore> store;
    std::shared_ptr<ProjectRegistry> registry;
    testing::LogCapture log;

    std::mutex mutex;
    Strings calls;
    PipelineOutcome xcsset{true};
    PipelineOutcome xcodeSpy{true};
    PipelineOutcome scripts{true};
};

TEST_F(FindingsOnRecord, TheRecordKeepsWhatTheLastCycleFound) {
    PipelineOutcome classic(false);
    classic.textFindings = {
        "Scripts/a.sh: HIGH: executable permission escalation (chmod detected)"};
    classic.findings = {finding("xcsset-chmod", core::Severity::high, "Scripts/a.sh", "c1")};
    PipelineOutcome analysis(false);
    analysis.findings = {
        finding("low-rule", core::Severity::low, "App.xcodeproj/project.pbxproj", "b1"),
        finding("decoded-data-executed", core::Severity::critical, "App.xcodeproj/project.pbxproj",
                "b2")};
    analysis.diagnostics = {{"Big.sh", "larger than the 32 MB limit"}};
    find(classic, analysis);
    const auto monitor = addAndScan();
    EXPECT_TRUE(monitor->isInfected);
    EXPECT_EQ(monitor->classicFindings, classic.textFindings);
    Strings order;
    for (const auto& each : monitor->findings) {
        order.push_back(each.fingerprint);
    }
    EXPECT_EQ(order, (Strings{"b2", "c1", "b1"}));  // most severe first
    EXPECT_EQ(monitor->diagnostics, analysis.diagnostics);

    // A clean cycle replaces them all.
    find(PipelineOutcome(true), PipelineOutcome(true));
    completeCycle(2);
    EXPECT_FALSE(monitor->isInfected);
    EXPECT_TRUE(monitor->findings.empty());
    EXPECT_TRUE(monitor->classicFindings.empty());
    EXPECT_TRUE(monitor->diagnostics.empty());
}

TEST_F(FindingsOnRecord, AcceptedThreatsLeaveTheVerdict) {
    const auto chmod = finding("xcsset-chmod", core::Severity::high, "Scripts/tool.sh", "c1");
    const auto decoded = finding("decoded-data-executed", core::Severity::critical, "P", "b1");
    const auto other = finding("remote-shell", core::Severity::critical, "P", "b2");
    struct Row {
        const char* name;
        PipelineOutcome classic, scripts;
        Strings accepted;
        Strings calls;
        bool infected;
    };
    const Row rows[] = {
        {"accepted chmod lets the XcodeSpy scan run",
         threat({chmod}),
         PipelineOutcome(true),
         {"c1"},
         {"xcsset", "xcodespy", "buildscripts"},
         false},
        {"one of two threats accepted",
         PipelineOutcome(true),
         threat({decoded, other}),
         {"b1"},
         {"xcsset", "xcodespy", "buildscripts"},
         true},
        {"every threat accepted",
         PipelineOutcome(true),
         threat({decoded, other}),
         {"b1", "b2"},
         {"xcsset", "xcodespy", "buildscripts"},
         false},
        {"a bare verdict has nothing to accept",
         PipelineOutcome(false),
         PipelineOutcome(true),
         {"c1"},
         {"xcsset", "buildscripts"},
         true},
    };
    bool first = true;
    int cycle = 0;
    std::shared_ptr<ProjectMonitor> monitor;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        for (const auto& fingerprint : accepted->fingerprints(folder)) {
            accepted->restore(folder, fingerprint);
        }
        for (const auto& fingerprint : row.accepted) {
            accepted->accept(folder, finding("r", core::Severity::high, "f", fingerprint), "ok",
                             {});
        }
        find(row.classic, row.scripts);
        if (first) {
            monitor = addAndScan();
            cycle = 1;
            first = false;
        } else {
            completeCycle(++cycle);
        }
        EXPECT_EQ(takeCalls(), row.calls);
        EXPECT_EQ(monitor->isInfected, row.infected);
    }
}

TEST_F(FindingsOnRecord, AcceptingAndRestoringTurnTheCardAtOnceAndRescan) {
    const auto decoded = finding("decoded-data-executed", core::Severity::critical, "P", "b1");
    find(PipelineOutcome(true), threat({decoded}));
    const auto monitor = addAndScan();
    ASSERT_TRUE(monitor->isInfected);
    takeCalls();

    registry->acceptFinding(monitor, decoded, "our own asset compiler");
    EXPECT_FALSE(monitor->isInfected);  // before any cycle
    EXPECT_EQ(accepted->entries(folder).at(0).reason, "our own asset compiler");
    pause->waitForSleeps(2);  // the rescan ran without a release
    queue->drain();
    EXPECT_FALSE(monitor->isInfected);
    EXPECT_EQ(takeCalls().size(), 3u);

    registry->restoreFinding(monitor, "b1");
    EXPECT_TRUE(monitor->isInfected);
    pause->waitForSleeps(3);
    queue->drain();
    EXPECT_TRUE(monitor->isInfected);
    EXPECT_TRUE(accepted->entries(folder).empty());
}

TEST_F(FindingsOnRecord, RescanNowRunsExactlyOneMoreCycleWithoutASecondLoop) {
    const auto monitor = addAndScan();
    takeCalls();
    // Asked twice during one pause: one cycle.
    registry->rescan(monitor);
    registry->rescan(monitor);
    pause->waitForSleeps(2);
    queue->drain();
    EXPECT_EQ(takeCalls(), (Strings{"xcsset", "xcodespy", "buildscripts"}));
    EXPECT_EQ(workers.started(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(takeCalls().empty());  // the next pause is a full one again
    const Strings messages = log.messages("BackgroundScan");
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "Scan cycle 2 started for MyApp"), 1);
}

TEST_F(FindingsOnRecord, RemovalEndsTheLoopAndTheStoredEntry) {
    tree.write("Other/Other.xcodeproj/project.pbxproj", "");
    ASSERT_TRUE(registry->addFolder(FileURL(tree.path("Other"), true)));
    pause->waitForSleeps(1);
    ASSERT_TRUE(registry->addFolder(folder));
    pause->waitForSleeps(2);
    queue->drain();
    const auto monitor = registry->projects().front();
    ASSERT_EQ(registry->projects().size(), 2u);
    ASSERT_EQ(store->urls().size(), 2u);
    const int rebuilds = dashboard.rebuilds;

    registry->removeProject(monitor);
    EXPECT_EQ(registry->projects().size(), 1u);
    EXPECT_EQ(registry->projects().front()->url.lastPathComponent(), "Other");
    EXPECT_EQ(dashboard.rebuilds, rebuilds + 1);
    // The store holds, and saved, the other folder alone.
    URLStore fresh(defaults, platform::systemBookmarks());
    fresh.load();
    EXPECT_EQ(fresh.urls(), (std::vector<FileURL>{FileURL(tree.path("Other"), true)}));

    // MyApp's loop ends without being released; Other's keeps running until the test stops it.
    ASSERT_TRUE(waitUntil([&] {
        const Strings messages = log.messages("BackgroundScan");
        return std::count(messages.begin(), messages.end(),
                          "Stopped background scan loop for project: MyApp") == 1;
    }));
    registry->rescan(monitor);         // nothing to wake any more
    registry->removeProject(monitor);  // and nothing to remove
    EXPECT_EQ(registry->projects().size(), 1u);
}

TEST_F(FindingsOnRecord, AlertsWhenThreatsAppearOrChangeNotEveryCycle) {
    const auto decoded = finding("decoded-data-executed", core::Severity::critical,
                                 "MyApp.xcodeproj/project.pbxproj", "b1");
    const auto other = finding("remote-shell", core::Severity::critical, "Scripts/x.sh", "b2");
    const auto low = finding("low-rule", core::Severity::low, "Scripts/y.sh", "b3");
    find(PipelineOutcome(true), threat({decoded, low}));
    const auto monitor = addAndScan();
    ASSERT_EQ(notifier.alerts.size(), 1u);
    EXPECT_EQ(notifier.alerts[0].title, "Threat detected in MyApp");
    EXPECT_EQ(
        notifier.alerts[0].body,
        "decoded-data-executed title, in MyApp.xcodeproj/project.pbxproj, phase 'Run Script'");

    completeCycle(2);  // the same threats
    EXPECT_EQ(notifier.alerts.size(), 1u);

    find(PipelineOutcome(true), threat({decoded, other}));  // one more
    completeCycle(3);
    ASSERT_EQ(notifier.alerts.size(), 2u);
    EXPECT_EQ(notifier.alerts[1].body,
              "decoded-data-executed title, in MyApp.xcodeproj/project.pbxproj, phase 'Run "
              "Script' (and 1 more)");

    registry->acceptFinding(monitor, other, "known");  // the user's own choice: no alert
    pause->waitForSleeps(4);
    queue->drain();
    EXPECT_EQ(notifier.alerts.size(), 2u);

    find(PipelineOutcome(true), PipelineOutcome(true));  // cleaned up, then infected again
    completeCycle(5);
    find(PipelineOutcome(true), threat({decoded}));
    completeCycle(6);
    ASSERT_EQ(notifier.alerts.size(), 3u);

    // Clicking an alert opens the project's details.
    notifier.activations[0]();
    ASSERT_EQ(dashboard.detailsShown.size(), 1u);
    EXPECT_EQ(dashboard.detailsShown[0], monitor);
}

TEST_F(FindingsOnRecord, ReasonLineNamesTheFindingAndItsPlace) {
    struct Row {
        const char* name;
        std::string file, container, kind;
        std::string line;
    };
    const Row rows[] = {
        {"build phase", "App.xcodeproj/project.pbxproj", "Compile Code Assets", "build phase",
         "T, in App.xcodeproj/project.pbxproj, phase 'Compile Code Assets'"},
        {"build rule", "App.xcodeproj/project.pbxproj", "files matching *.txt", "build rule",
         "T, in App.xcodeproj/project.pbxproj, rule 'files matching *.txt'"},
        {"build setting", "App.xcodeproj/project.pbxproj", "ASSET_TOOL", "build setting",
         "T, in App.xcodeproj/project.pbxproj, setting 'ASSET_TOOL'"},
        {"script a phase runs", "Scripts/a.sh", "run by build phase 'X' of target 'App'", "",
         "T, in Scripts/a.sh, run by build phase 'X' of target 'App'"},
        {"scheme action", "App.xcodeproj/xcshareddata/xcschemes/App.xcscheme", "Build",
         "scheme pre-action",
         "T, in App.xcodeproj/xcshareddata/xcschemes/App.xcscheme, scheme "
         "pre-action 'Build'"},
        {"a classic finding: the whole file", "Scripts/a.sh", "", "", "T, in Scripts/a.sh"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        core::Finding f;
        f.title = "T";
        f.location.file = row.file;
        f.location.container = row.container;
        f.location.containerKind = row.kind;
        EXPECT_EQ(reasonLine(f), row.line);
    }
}

}  // namespace
}  // namespace quillon::monitor
