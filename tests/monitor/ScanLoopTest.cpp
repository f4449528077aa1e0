#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "monitor/ProjectRegistry.h"
#include "scan/ScanPipelines.h"
#include "support/LogCapture.h"
#include "support/MonitorFakes.h"
#include "support/TempTree.h"

namespace quillon::monitor {
namespace {

using platform::FileURL;
using Strings = std::vector<std::string>;
using fakes::Counter;

std::size_t countIf(const Strings& messages, std::string_view prefix) {
    return static_cast<std::size_t>(std::count_if(
        messages.begin(), messages.end(), [&](const auto& m) { return m.starts_with(prefix); }));
}

class ScanLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        makeRegistry(fakes::cycleOf(
            [this](const FileURL& url) { return runFake("xcsset", url, xcssetClean); },
            [this](const FileURL& url) { return runFake("xcodespy", url, xcodeSpyClean); }));
    }

    void makeRegistry(CyclePipelines pipelines, double clockStep = 0.5) {
        clock = std::make_shared<fakes::FakeClock>(clockStep);
        store = std::make_shared<URLStore>(defaults, platform::systemBookmarks());
        registry = ProjectRegistry::create(
            {queue, clock, pause, workers.starter(), std::move(pipelines), store,
             &platform::systemBookmarks(), nullptr, &platform::nullOutput(), accepted, &notifier});
        registry->attachDashboard(&dashboard);
    }

    void TearDown() override {
        pause->stop();
        workers.join();
        queue->drain();
    }

    bool runFake(const char* name, const FileURL&, const std::atomic<bool>& clean) {
        {
            std::lock_guard lock(callsMutex);
            calls.emplace_back(name);
        }
        if (duringScan) {
            duringScan();
        }
        if (throwNext.exchange(false)) {
            throw std::runtime_error("out of memory");
        }
        return clean.load();
    }

    Strings takeCalls() {
        std::lock_guard lock(callsMutex);
        return std::exchange(calls, {});
    }

    // Lets the loop finish cycle `n` (counted from 1) and applies its main-queue tasks.
    void completeCycle(int n) {
        if (n > 1) {
            pause->release();
        }
        pause->waitForSleeps(n);
        queue->drain();
    }

    std::shared_ptr<fakes::FakeMainQueue> queue = std::make_shared<fakes::FakeMainQueue>();
    std::shared_ptr<fakes::FakeClock> clock;
    std::shared_ptr<fakes::GatedPause> pause = std::make_shared<fakes::GatedPause>();
    fakes::Workers workers;
    fakes::FakeDashboard dashboard;
    platform::MemoryDefaults defaults;
    std::shared_ptr<AcceptedFindings> accepted = std::make_shared<AcceptedFindings>(defaults);
    fakes::FakeNotifier notifier;
    std::shared_ptr<URLStore> store;
    std::shared_ptr<ProjectRegistry> registry;
    testing::LogCapture log;

    std::atomic<bool> xcssetClean{true};
    std::atomic<bool> xcodeSpyClean{true};
    std::atomic<bool> buildScriptsClean{true};
    std::atomic<bool> throwNext{false};
    std::function<void()> duringScan;
    std::mutex callsMutex;
    Strings calls;
    const std::shared_ptr<ProjectMonitor> monitor =
        std::make_shared<ProjectMonitor>(FileURL("/projects/MyApp", true));
};

TEST_F(ScanLoopTest, CleanCyclesCountOnAndStampTheRecord) {
    registry->startMonitoring(monitor);
    EXPECT_FALSE(monitor->lastScanDate.has_value());
    completeCycle(1);
    EXPECT_FALSE(monitor->isInfected);
    EXPECT_FALSE(monitor->isScanning);
    ASSERT_TRUE(monitor->lastScanDate.has_value());
    const auto firstDate = *monitor->lastScanDate;
    EXPECT_EQ(takeCalls(), (Strings{"xcsset", "xcodespy"}));
    EXPECT_EQ(dashboard.rebuilds, 2);
    EXPECT_EQ(pause->lastSeconds(), 15.0);

    completeCycle(2);
    EXPECT_GT(*monitor->lastScanDate, firstDate);
    const Strings messages = log.messages("BackgroundScan");
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "Scan cycle 2 started for MyApp"), 1);
}

TEST_F(ScanLoopTest, BuildScriptAnalysisRunsEveryCycleWhateverTheClassicScansSay) {
    makeRegistry(fakes::cycleOf(
        [this](const FileURL& url) { return runFake("xcsset", url, xcssetClean); },
        [this](const FileURL& url) { return runFake("xcodespy", url, xcodeSpyClean); },
        [this](const FileURL& url) { return runFake("buildscripts", url, buildScriptsClean); }));
    struct Row {
        bool xcsset, xcodeSpy, scripts;
        Strings calls;
        bool infected;
    };
    const Row rows[] = {
        {true, true, true, {"xcsset", "xcodespy", "buildscripts"}, false},
        {true, true, false, {"xcsset", "xcodespy", "buildscripts"}, true},
        {false, true, true, {"xcsset", "buildscripts"}, true},
        {true, false, true, {"xcsset", "xcodespy", "buildscripts"}, true},
    };
    registry->startMonitoring(monitor);
    int cycle = 0;
    for (const auto& row : rows) {
        xcssetClean = row.xcsset;
        xcodeSpyClean = row.xcodeSpy;
        buildScriptsClean = row.scripts;
        completeCycle(++cycle);
        SCOPED_TRACE(cycle);
        EXPECT_EQ(takeCalls(), row.calls);
        EXPECT_EQ(monitor->isInfected, row.infected);
    }
}

TEST_F(ScanLoopTest, OneCycleLogsItsLinesWithTheElapsedTime) {
    makeRegistry(
        fakes::cycleOf([](const FileURL&) { return true; }, [](const FileURL&) { return true; }),
        3.4219);
    registry->startMonitoring(monitor);
    completeCycle(1);
    EXPECT_EQ(log.leveled("BackgroundScan"),
              (Strings{"info Starting background scan loop for project: MyApp",
                       "info Scan cycle 1 started for MyApp",
                       "debug Scanning project at path: /projects/MyApp",
                       "info Scan cycle 1 completed: CLEAN (MyApp) in 3.42s",
                       "debug Next scan scheduled in 15s for MyApp"}));
}

TEST_F(ScanLoopTest, WhileScanningTheRecordKeepsItsPreviousVerdict) {
    Counter entered;
    Counter proceed;
    monitor->isInfected = true;
    duringScan = [&] {
        entered.increment();
        proceed.waitFor(1);
    };
    registry->startMonitoring(monitor);
    entered.waitFor(1);
    queue->drain();
    EXPECT_TRUE(monitor->isScanning);
    EXPECT_TRUE(monitor->isInfected);
    EXPECT_FALSE(monitor->lastScanDate.has_value());
    duringScan = nullptr;
    proceed.increment();
    completeCycle(1);
    EXPECT_FALSE(monitor->isScanning);
    EXPECT_FALSE(monitor->isInfected);
}

TEST_F(ScanLoopTest, AnXCSSETThreatSkipsXcodeSpyAndAClearedThreatTurnsClean) {
    xcssetClean = false;
    registry->startMonitoring(monitor);
    completeCycle(1);
    EXPECT_TRUE(monitor->isInfected);
    EXPECT_EQ(takeCalls(), Strings{"xcsset"});
    const Strings messages = log.messages("BackgroundScan");
    EXPECT_EQ(countIf(messages, "Scan cycle 1 completed: THREAT DETECTED (MyApp) in "), 1u);

    completeCycle(2);
    EXPECT_TRUE(monitor->isInfected);

    xcssetClean = true;
    xcodeSpyClean = false;
    completeCycle(3);
    EXPECT_TRUE(monitor->isInfected);
    xcodeSpyClean = true;
    completeCycle(4);
    EXPECT_FALSE(monitor->isInfected);
}

TEST_F(ScanLoopTest, AFailedCycleKeepsTheVerdictAndTheLoopGoesOn) {
    xcssetClean = false;
    registry->startMonitoring(monitor);
    completeCycle(1);
    const auto date = monitor->lastScanDate;
    throwNext = true;
    xcssetClean = true;
    completeCycle(2);
    EXPECT_TRUE(monitor->isInfected);
    EXPECT_FALSE(monitor->isScanning);
    EXPECT_EQ(monitor->lastScanDate, date);
    const auto records = log.records();
    EXPECT_TRUE(std::any_of(records.begin(), records.end(), [](const auto& record) {
        return record.level == platform::LogLevel::error &&
               record.message == "Scan cycle 2 failed for MyApp: out of memory";
    }));
    completeCycle(3);
    EXPECT_FALSE(monitor->isInfected);
}

TEST_F(ScanLoopTest, StartingTwiceRunsTwoLoops) {
    registry->startMonitoring(monitor);
    registry->startMonitoring(monitor);
    pause->waitForSleeps(2);
    queue->drain();
    EXPECT_EQ(workers.started(), 2u);
    const Strings messages = log.messages("BackgroundScan");
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "Scan cycle 1 started for MyApp"), 2);
    EXPECT_EQ(takeCalls().size(), 4u);
}

TEST_F(ScanLoopTest, ControllerGoneBeforeTheLoopStarts) {
    fakes::Workers held;
    auto doomed = ProjectRegistry::create(
        {queue, clock, pause, held.starter(false),
         fakes::cycleOf([](const FileURL&) { return true; }, [](const FileURL&) { return true; }),
         store, &platform::systemBookmarks(), nullptr, nullptr, nullptr, nullptr});
    doomed->startMonitoring(monitor);
    auto pending = held.takePending();
    ASSERT_EQ(pending.size(), 1u);
    doomed.reset();
    pending[0]();
    EXPECT_EQ(log.leveled("BackgroundScan").back(),
              "error Self deallocated before scan loop started for MyApp");
    EXPECT_EQ(queue->drain(), 0);
}

TEST_F(ScanLoopTest, RealPipelinesFollowTheFolder) {
    makeRegistry(fakes::cycleOf(
        [](const FileURL& url) { return scan::scanXCSSETFinal(url, platform::nullOutput()); },
        [](const FileURL& url) {
            return scan::scanXcodeSecurityFinal(url, platform::nullOutput());
        }));
    testing::TempTree tree;
    tree.write("MyApp/Scripts/setup.sh", "chmod +x helper");
    const auto watched = std::make_shared<ProjectMonitor>(FileURL(tree.path("MyApp"), true));
    registry->startMonitoring(watched);
    completeCycle(1);
    EXPECT_TRUE(watched->isInfected);

    tree.write("MyApp/Scripts/setup.sh", "echo fine");
    completeCycle(2);
    EXPECT_FALSE(watched->isInfected);

    tree.remove("MyApp");
    completeCycle(3);
    EXPECT_FALSE(watched->isInfected);
    completeCycle(4);
    const Strings messages = log.messages("BackgroundScan");
    EXPECT_EQ(countIf(messages, "Scan cycle 4 completed: CLEAN (MyApp)"), 1u);
}

}  // namespace
}  // namespace quillon::monitor
