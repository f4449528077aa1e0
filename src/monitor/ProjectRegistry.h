#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "monitor/AcceptedFindings.h"
#include "monitor/LoopServices.h"
#include "monitor/MainQueue.h"
#include "monitor/Notifier.h"
#include "monitor/ProjectMonitor.h"
#include "monitor/URLStore.h"
#include "platform/Bookmarks.h"
#include "platform/LineWriter.h"

namespace quillon::monitor {

// What the registry asks of the dashboard. Called on the main thread only.
class Dashboard {
  public:
    virtual ~Dashboard() = default;
    virtual void rebuildDashboard() = 0;
    virtual void setLoading(bool show) = 0;
    // The user asked, through an alert, to see what was found in a project.
    virtual void showDetails(const std::shared_ptr<ProjectMonitor>& monitor) { (void)monitor; }
};

// A modal folder chooser. Returns the chosen folder, or nothing when cancelled.
class FolderChooser {
  public:
    virtual ~FolderChooser() = default;
    virtual std::optional<platform::FileURL> chooseFolder(const std::string& title,
                                                          const std::string& message) = 0;
};

// Whether a folder holds an Xcode project or workspace at any depth: an entry whose extension
// is exactly "xcodeproj" or "xcworkspace", hidden entries skipped. The folder itself is not
// tested. The one check both windows use.
bool containsXcodeProject(const platform::FileURL& folder);

// The dashboard's bookkeeping of monitored projects: the `projects` list (newest first),
// restoring stored folders, adding a chosen one, and one endless scan loop per started
// monitor. Owned through a shared pointer, because each running loop keeps it alive.
//
// Everything but the loops runs on the main thread; the loops run on workers of their own and
// reach the record and the dashboard only through tasks posted to the main queue.
class ProjectRegistry : public std::enable_shared_from_this<ProjectRegistry> {
  public:
    static constexpr double kPauseSeconds = 15.0;

    struct Services {
        std::shared_ptr<MainQueue> mainQueue;
        std::shared_ptr<Clock> clock;
        std::shared_ptr<Pause> pause;
        WorkerStarter startWorker;
        CyclePipelines pipelines;
        std::shared_ptr<URLStore> store;
        const platform::Bookmarks* bookmarks = nullptr;
        FolderChooser* chooser = nullptr;
        platform::LineWriter* output = nullptr;  // where restoration prints the stored list
        // Findings the user accepted; none are when absent.
        std::shared_ptr<AcceptedFindings> accepted;
        // Alerts when a project turns to a threat, or its threats change; none when absent.
        Notifier* notifier = nullptr;
    };

    static std::shared_ptr<ProjectRegistry> create(Services services);

    // Main thread. The dashboard must call detachDashboard() before it goes away.
    void attachDashboard(Dashboard* dashboard) { dashboard_ = dashboard; }
    void detachDashboard() { dashboard_ = nullptr; }

    const std::vector<std::shared_ptr<ProjectMonitor>>& projects() const { return projects_; }

    void restoreProjects();
    void addProject();
    // What adding does once a folder is chosen (also for folders named on the command line):
    // false, and nothing changes, when it holds no Xcode project or is monitored already.
    bool addFolder(const platform::FileURL& folder);
    void startAllMonitors();
    // Starts one more loop for the monitor; there is no guard against starting it twice.
    void startMonitoring(const std::shared_ptr<ProjectMonitor>& monitor);

    // Cuts the pause of the monitor's loops short, so a cycle starts now (or right after the
    // one under way). Starts no loop.
    void rescan(const std::shared_ptr<ProjectMonitor>& monitor);
    // Ends the monitor's loops after their cycle under way, takes it off the list and out of the
    // store, and rebuilds. Its accepted findings are kept, for when it is added again.
    void removeProject(const std::shared_ptr<ProjectMonitor>& monitor);

    // Accepting a finding or taking it back: stored at once, the card's verdict follows from
    // the last cycle's findings, and a rescan confirms it (an accepted XCSSET threat lets the
    // XcodeSpy scan run).
    void acceptFinding(const std::shared_ptr<ProjectMonitor>& monitor, const core::Finding& finding,
                       const std::string& reason);
    void restoreFinding(const std::shared_ptr<ProjectMonitor>& monitor,
                        const std::string& fingerprint);
    std::set<std::string> acceptedFingerprints(const ProjectMonitor& monitor) const;
    AcceptedFindings* accepted() const { return services_.accepted.get(); }

  private:
    explicit ProjectRegistry(Services services) : services_(std::move(services)) {}

    struct LoopContext;
    static void runLoop(const std::weak_ptr<ProjectRegistry>& weakSelf,
                        const std::shared_ptr<LoopContext>& context);
    static void runCycle(ProjectRegistry& registry, const LoopContext& context, std::int64_t cycle);
    // Posted from inside a main-queue task, so the rebuild runs on a later turn.
    void requestRebuild();
    void rebuild();
    // After a cycle's outcome reached the record: alerts when its open threats are new.
    void alertIfNew(const std::shared_ptr<ProjectMonitor>& monitor);
    // The verdict the last cycle's findings give with the current acceptances.
    void refreshVerdict(ProjectMonitor& monitor);

    // Main-thread bookkeeping per monitor.
    struct MonitorState {
        std::vector<std::weak_ptr<LoopControl>> loops;
        std::string alerted;  // the open threats last alerted, by fingerprint
    };

    Services services_;
    Dashboard* dashboard_ = nullptr;
    std::vector<std::shared_ptr<ProjectMonitor>> projects_;
    std::map<const ProjectMonitor*, MonitorState> states_;
};

}  // namespace quillon::monitor
