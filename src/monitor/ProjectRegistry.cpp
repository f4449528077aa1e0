#include "monitor/ProjectRegistry.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "platform/DirectoryWalker.h"
#include "platform/Log.h"

namespace quillon::monitor {

using core::isThreat;

using platform::FileURL;

bool containsXcodeProject(const FileURL& folder) {
    using platform::DirectoryWalker;
    bool found = false;
    DirectoryWalker::walk(
        folder.path(), {.skipHidden = true}, [&](const DirectoryWalker::Entry& entry) {
            const std::string_view extension = platform::pathExtensionOf(entry.name);
            found = extension == "xcodeproj" || extension == "xcworkspace";
            return found ? DirectoryWalker::Next::stop : DirectoryWalker::Next::proceed;
        });
    return found;
}

struct ProjectRegistry::LoopContext {
    std::shared_ptr<ProjectMonitor> monitor;
    std::string name;
    platform::Logger logger{"com.quillon", "BackgroundScan"};
    std::shared_ptr<LoopControl> control = std::make_shared<LoopControl>();
};

namespace {

// What one cycle hands to the main thread.
struct CycleOutcome {
    std::vector<std::string> classicFindings;
    std::vector<core::Finding> findings;
    std::vector<core::ScanDiagnostic> diagnostics;
};

// A pipeline's verdict with accepted findings left out: a threat whose every threat finding
// was accepted is clean. A bare verdict, with no findings to accept, stands.
bool judge(PipelineOutcome outcome, const std::set<std::string>& accepted, CycleOutcome& into) {
    bool clean = outcome.clean;
    if (!clean) {
        bool anyThreat = false;
        bool allAccepted = true;
        for (const auto& finding : outcome.findings) {
            if (isThreat(finding)) {
                anyThreat = true;
                allAccepted = allAccepted && accepted.contains(finding.fingerprint);
            }
        }
        clean = anyThreat && allAccepted;
    }
    std::move(outcome.textFindings.begin(), outcome.textFindings.end(),
              std::back_inserter(into.classicFindings));
    std::move(outcome.findings.begin(), outcome.findings.end(), std::back_inserter(into.findings));
    std::move(outcome.diagnostics.begin(), outcome.diagnostics.end(),
              std::back_inserter(into.diagnostics));
    return clean;
}

std::string signatureOf(const std::vector<const core::Finding*>& threats) {
    std::string out;
    for (const auto* finding : threats) {
        out += finding->fingerprint + ",";
    }
    return out;
}

}  // namespace

std::shared_ptr<ProjectRegistry> ProjectRegistry::create(Services services) {
    return std::shared_ptr<ProjectRegistry>(new ProjectRegistry(std::move(services)));
}

void ProjectRegistry::rebuild() {
    if (dashboard_ != nullptr) {
        dashboard_->rebuildDashboard();
    }
}

void ProjectRegistry::requestRebuild() {
    services_.mainQueue->post([self = shared_from_this()] { self->rebuild(); });
}

void ProjectRegistry::restoreProjects() {
    services_.store->load();
    std::string listing = "[";
    for (std::size_t i = 0; i < services_.store->urls().size(); ++i) {
        if (i > 0) {
            listing.append(", ");
        }
        listing.append(services_.store->urls()[i].absoluteString());
    }
    listing.push_back(']');
    if (services_.output != nullptr) {
        services_.output->writeLine(listing);
    }
    for (const auto& url : services_.store->urls()) {
        auto monitor = std::make_shared<ProjectMonitor>(url);
        services_.bookmarks->startAccessing(url);
        projects_.insert(projects_.begin(), std::move(monitor));
    }
    services_.mainQueue->post([self = shared_from_this()] { self->startAllMonitors(); });
    rebuild();
    if (dashboard_ != nullptr) {
        dashboard_->setLoading(false);
    }
}

void ProjectRegistry::startAllMonitors() {
    // A copy: starting a loop never changes the list, but a started loop's tasks could run
    // nested if a queue implementation ran tasks re-entrantly.
    const auto monitors = projects_;
    for (const auto& monitor : monitors) {
        services_.bookmarks->startAccessing(monitor->url);
        startMonitoring(monitor);
    }
}

void ProjectRegistry::addProject() {
    if (services_.chooser == nullptr) {
        return;
    }
    const std::optional<FileURL> chosen = services_.chooser->chooseFolder(
        "Select Xcode Project Folder", "Choose a folder containing an Xcode project or workspace.");
    if (chosen) {
        addFolder(*chosen);
    }
}

bool ProjectRegistry::addFolder(const FileURL& folder) {
    if (!containsXcodeProject(folder)) {
        return false;
    }
    const bool known = std::any_of(projects_.begin(), projects_.end(),
                                   [&](const auto& monitor) { return monitor->url == folder; });
    if (known) {
        return false;
    }
    auto monitor = std::make_shared<ProjectMonitor>(folder);
    projects_.insert(projects_.begin(), monitor);
    services_.store->add(folder);
    rebuild();
    startMonitoring(monitor);
    return true;
}

void ProjectRegistry::startMonitoring(const std::shared_ptr<ProjectMonitor>& monitor) {
    auto context = std::make_shared<LoopContext>();
    context->monitor = monitor;
    states_[monitor.get()].loops.push_back(context->control);
    context->name = monitor->url.lastPathComponent();
    context->logger.info("Starting background scan loop for project: %s", context->name);
    std::weak_ptr<ProjectRegistry> weakSelf = weak_from_this();
    services_.startWorker([weakSelf, context] { runLoop(weakSelf, context); });
}

void ProjectRegistry::runCycle(ProjectRegistry& registry, const LoopContext& context,
                               std::int64_t cycle) {
    const std::shared_ptr<ProjectRegistry> self = registry.shared_from_this();
    const platform::Logger& logger = context.logger;
    const std::string& name = context.name;
    const auto& monitor = context.monitor;
    const Services& services = registry.services_;
    const double started = services.clock->absoluteTime();
    logger.info("Scan cycle %ld started for %s", cycle, name);
    services.mainQueue->post([self, monitor] {
        monitor->isScanning = true;
        self->requestRebuild();
    });
    logger.debug("Scanning project at path: %s", monitor->url.path());

    std::optional<bool> clean;
    auto outcome = std::make_shared<CycleOutcome>();
    try {
        const std::set<std::string> accepted = services.accepted
                                                   ? services.accepted->fingerprints(monitor->url)
                                                   : std::set<std::string>{};
        const std::shared_ptr<void> shared =
            services.pipelines.beginCycle ? services.pipelines.beginCycle(monitor->url) : nullptr;
        bool verdict = true;
        for (const CycleStep& step : services.pipelines.steps) {
            if (step.onlyAfterClean && !verdict) {
                continue;
            }
            const bool stepClean = judge(step.run(monitor->url), accepted, *outcome);
            verdict = verdict && stepClean;
        }
        clean = verdict;
        core::sortFindings(outcome->findings);
    } catch (const std::exception& failure) {
        logger.error("Scan cycle %ld failed for %s: %s", cycle, name, failure.what());
    } catch (...) {
        logger.error("Scan cycle %ld failed for %s: %s", cycle, name, "unknown error");
    }
    const double elapsed = services.clock->absoluteTime() - started;

    if (clean) {
        const bool verdict = *clean;
        services.mainQueue->post([self, monitor, verdict, outcome, control = context.control] {
            monitor->isInfected = !verdict;
            monitor->isScanning = false;
            monitor->lastScanDate = self->services_.clock->now();
            monitor->classicFindings = std::move(outcome->classicFindings);
            monitor->findings = std::move(outcome->findings);
            monitor->diagnostics = std::move(outcome->diagnostics);
            if (!control->stopped()) {
                self->alertIfNew(monitor);
            }
            self->requestRebuild();
        });
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.2f", elapsed);
        if (verdict) {
            logger.info("Scan cycle %ld completed: CLEAN (%s) in %ss", cycle, name, seconds);
        } else {
            logger.error("Scan cycle %ld completed: THREAT DETECTED (%s) in %ss", cycle, name,
                         seconds);
        }
    } else {
        // A failed cycle proves nothing: the previous verdict and date stand.
        services.mainQueue->post([self, monitor] {
            monitor->isScanning = false;
            self->requestRebuild();
        });
    }
}

void ProjectRegistry::runLoop(const std::weak_ptr<ProjectRegistry>& weakSelf,
                              const std::shared_ptr<LoopContext>& context) {
    const std::shared_ptr<ProjectRegistry> self = weakSelf.lock();
    const platform::Logger& logger = context->logger;
    const std::string& name = context->name;
    if (!self) {
        logger.error("Self deallocated before scan loop started for %s", name);
        return;
    }
    const Services& services = self->services_;
    std::int64_t cycle = 0;
    while (!context->control->stopped()) {
        try {
            runCycle(*self, *context, ++cycle);
        } catch (...) {
            // Not even bookkeeping may end a loop: nobody would watch the project any more.
            logger.error("Scan cycle %ld failed for %s: %s", cycle, name, "internal error");
        }
        if (context->control->stopped()) {
            break;
        }
        logger.debug("Next scan scheduled in 15s for %s", name);
        if (!services.pause->sleep(kPauseSeconds, *context->control)) {
            break;
        }
    }
    if (context->control->stopped()) {
        logger.info("Stopped background scan loop for project: %s", name);
    }
}

void ProjectRegistry::rescan(const std::shared_ptr<ProjectMonitor>& monitor) {
    const auto found = states_.find(monitor.get());
    if (found == states_.end()) {
        return;
    }
    for (const auto& weak : found->second.loops) {
        if (const auto control = weak.lock()) {
            control->wake();
        }
    }
}

void ProjectRegistry::removeProject(const std::shared_ptr<ProjectMonitor>& monitor) {
    const auto listed = std::find(projects_.begin(), projects_.end(), monitor);
    if (listed == projects_.end()) {
        return;
    }
    projects_.erase(listed);
    if (const auto found = states_.find(monitor.get()); found != states_.end()) {
        for (const auto& weak : found->second.loops) {
            if (const auto control = weak.lock()) {
                control->stop();
            }
        }
        states_.erase(found);
    }
    static const platform::Logger logger("com.quillon", "BackgroundScan");
    logger.info("Removed project: %s", monitor->url.lastPathComponent());
    // Another monitor of the same folder (restored twice) keeps it in the store.
    const bool stillListed =
        std::any_of(projects_.begin(), projects_.end(),
                    [&](const auto& other) { return other->url == monitor->url; });
    if (!stillListed) {
        services_.store->remove(monitor->url);
    }
    rebuild();
}

std::set<std::string> ProjectRegistry::acceptedFingerprints(const ProjectMonitor& monitor) const {
    return services_.accepted ? services_.accepted->fingerprints(monitor.url)
                              : std::set<std::string>{};
}

void ProjectRegistry::refreshVerdict(ProjectMonitor& monitor) {
    const bool hasThreatFindings =
        std::any_of(monitor.findings.begin(), monitor.findings.end(), isThreat);
    if (!hasThreatFindings) {
        return;  // a bare verdict: nothing to accept, the cycle's word stands
    }
    const auto open = openThreats(monitor, acceptedFingerprints(monitor));
    monitor.isInfected = !open.empty();
    // The user's own choice is no news to alert about.
    states_[&monitor].alerted = signatureOf(open);
}

void ProjectRegistry::acceptFinding(const std::shared_ptr<ProjectMonitor>& monitor,
                                    const core::Finding& finding, const std::string& reason) {
    if (!services_.accepted) {
        return;
    }
    services_.accepted->accept(monitor->url, finding, reason, services_.clock->now());
    refreshVerdict(*monitor);
    rebuild();
    rescan(monitor);
}

void ProjectRegistry::restoreFinding(const std::shared_ptr<ProjectMonitor>& monitor,
                                     const std::string& fingerprint) {
    if (!services_.accepted || !services_.accepted->restore(monitor->url, fingerprint)) {
        return;
    }
    refreshVerdict(*monitor);
    rebuild();
    rescan(monitor);
}

void ProjectRegistry::alertIfNew(const std::shared_ptr<ProjectMonitor>& monitor) {
    const auto listed = std::find(projects_.begin(), projects_.end(), monitor);
    if (listed == projects_.end()) {
        return;
    }
    MonitorState& state = states_[monitor.get()];
    if (!monitor->isInfected) {
        state.alerted.clear();
        return;
    }
    const auto open = openThreats(*monitor, acceptedFingerprints(*monitor));
    // A threat without typed findings still alerts once.
    const std::string signature = open.empty() ? std::string("verdict") : signatureOf(open);
    if (signature == state.alerted) {
        return;
    }
    state.alerted = signature;
    if (services_.notifier == nullptr) {
        return;
    }
    Alert alert;
    alert.title = "Threat detected in " + monitor->url.lastPathComponent();
    if (!open.empty()) {
        alert.body = core::defang(reasonLine(*open.front()));
        if (open.size() > 1) {
            alert.body += " (and " + std::to_string(open.size() - 1) + " more)";
        }
    } else {
        alert.body = monitor->url.path();
    }
    std::weak_ptr<ProjectRegistry> weakSelf = weak_from_this();
    std::weak_ptr<ProjectMonitor> weakMonitor = monitor;
    services_.notifier->notify(alert, [weakSelf, weakMonitor] {
        const auto self = weakSelf.lock();
        const auto target = weakMonitor.lock();
        if (self && target && self->dashboard_ != nullptr) {
            self->dashboard_->showDetails(target);
        }
    });
}

}  // namespace quillon::monitor
