#include "monitor/ProjectRegistry.h"

#include <gtest/gtest.h>

#include "support/LogCapture.h"
#include "support/MonitorFakes.h"
#include "support/TempTree.h"

namespace quillon::monitor {
namespace {

using platform::FileURL;

TEST(ContainsXcodeProject, Cases) {
    const struct {
        const char* name;
        std::vector<std::string> files;
        const char* chosen;
        bool expected;
    } cases[] = {
        {"atAnyDepth", {"a/b/c/MyApp.xcodeproj/project.pbxproj"}, "", true},
        {"workspace", {"MyApp.xcworkspace/contents.xcworkspacedata"}, "", true},
        {"none", {"Sources/main.swift", "README.md"}, "", false},
        {"hiddenFolder", {".hidden/MyApp.xcodeproj/project.pbxproj"}, "", false},
        {"capitalExtension", {"MyApp.XCODEPROJ/project.pbxproj"}, "", false},
        {"workspaceInsideChosenPackage",
         {"MyApp.xcodeproj/project.xcworkspace/contents.xcworkspacedata"},
         "MyApp.xcodeproj",
         true},
        {"chosenPackageAlone", {"MyApp.xcodeproj/project.pbxproj"}, "MyApp.xcodeproj", false},
        {"missingFolder", {}, "missing", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::TempTree tree;
        for (const auto& file : c.files) {
            tree.write(file, "");
        }
        EXPECT_EQ(containsXcodeProject(FileURL(tree.path(c.chosen), true)), c.expected);
    }
}

class RegistryTest : public ::testing::Test {
  protected:
    std::shared_ptr<ProjectRegistry> makeRegistry() {
        auto store = std::make_shared<URLStore>(defaults, platform::systemBookmarks());
        auto registry = ProjectRegistry::create(
            {queue, std::make_shared<fakes::FakeClock>(), std::make_shared<fakes::GatedPause>(),
             workers.starter(false),
             fakes::cycleOf([](const FileURL&) { return true; },
                            [](const FileURL&) { return true; }),
             store, &platform::systemBookmarks(), &chooser, &output, nullptr, nullptr});
        registry->attachDashboard(&dashboard);
        return registry;
    }
    FileURL project(const std::string& name) {
        tree.write(name + "/" + name + ".xcodeproj/project.pbxproj", "");
        return FileURL(tree.path(name), true);
    }
    std::vector<FileURL> urls(const ProjectRegistry& registry) {
        std::vector<FileURL> out;
        for (const auto& monitor : registry.projects()) {
            out.push_back(monitor->url);
        }
        return out;
    }

    testing::TempTree tree;
    testing::LogCapture log;
    platform::MemoryDefaults defaults;
    platform::MemoryLineWriter output;
    std::shared_ptr<fakes::FakeMainQueue> queue = std::make_shared<fakes::FakeMainQueue>();
    fakes::Workers workers;
    fakes::FakeDashboard dashboard;
    fakes::FakeChooser chooser;
};

TEST_F(RegistryTest, AddingAsksForAFolderAndRefusesWhatItShould) {
    auto registry = makeRegistry();
    chooser.next = std::nullopt;  // cancelled
    registry->addProject();
    EXPECT_EQ(chooser.titles, std::vector<std::string>{
                                  "Select Xcode Project Folder | Choose a folder containing an "
                                  "Xcode project or workspace."});
    tree.write("NotAProject/README.md", "");
    chooser.next = FileURL(tree.path("NotAProject"), true);
    registry->addProject();
    EXPECT_TRUE(registry->projects().empty());
    EXPECT_EQ(dashboard.rebuilds, 0);
    EXPECT_FALSE(defaults.data(URLStore::kStorageKey).has_value());

    const FileURL app = project("App");
    chooser.next = app;
    registry->addProject();
    EXPECT_EQ(urls(*registry), std::vector<FileURL>{app});
    EXPECT_FALSE(registry->projects()[0]->isScanning);
    EXPECT_FALSE(registry->projects()[0]->lastScanDate.has_value());
    EXPECT_EQ(dashboard.rebuilds, 1);
    EXPECT_EQ(workers.started(), 1u);
    EXPECT_EQ(defaults.writeCount(), 1);

    registry->addProject();  // the same folder again
    EXPECT_EQ(registry->projects().size(), 1u);
    EXPECT_EQ(dashboard.rebuilds, 1);
    EXPECT_EQ(workers.started(), 1u);
    EXPECT_EQ(defaults.writeCount(), 1);
}

TEST_F(RegistryTest, NewestFirstBeforeAndAfterARestart) {
    const FileURL a = project("A"), b = project("B");
    {
        auto registry = makeRegistry();
        chooser.next = a;
        registry->addProject();
        chooser.next = b;
        registry->addProject();
        EXPECT_EQ(urls(*registry), (std::vector<FileURL>{b, a}));
    }
    auto restarted = makeRegistry();
    const std::size_t before = workers.started();
    restarted->restoreProjects();
    EXPECT_EQ(urls(*restarted), (std::vector<FileURL>{b, a}));
    EXPECT_EQ(output.lines(),
              std::vector<std::string>{"[" + a.absoluteString() + ", " + b.absoluteString() + "]"});
    EXPECT_EQ(dashboard.loading, std::vector<bool>{false});
    EXPECT_EQ(workers.started(), before);  // loops start on a later turn of the main queue
    queue->drain();
    EXPECT_EQ(workers.started(), before + 2);
}

TEST_F(RegistryTest, NothingStoredRestoresNothing) {
    auto registry = makeRegistry();
    registry->restoreProjects();
    queue->drain();
    EXPECT_TRUE(registry->projects().empty());
    EXPECT_EQ(output.lines(), std::vector<std::string>{"[]"});
    EXPECT_EQ(workers.started(), 0u);
    EXPECT_EQ(dashboard.rebuilds, 1);
}

TEST_F(RegistryTest, RestoringAgainAddsMonitorsAgain) {
    const FileURL a = project("A");
    makeRegistry();
    URLStore(defaults, platform::systemBookmarks()).add(a);
    auto registry = makeRegistry();
    registry->restoreProjects();
    queue->drain();
    registry->restoreProjects();
    queue->drain();
    EXPECT_EQ(registry->projects().size(), 2u);
    EXPECT_EQ(workers.started(), 3u);  // one, then one more for each of the two monitors
}

}  // namespace
}  // namespace quillon::monitor
