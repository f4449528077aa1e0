#include "monitor/ProjectRegistry.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "platform/DirectoryWalker.h"
#include "platform/Log.h"

namespace quillon::monitor {

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
};

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
    if (!chosen || !containsXcodeProject(*chosen)) {
        return;
    }
    const bool known = std::any_of(projects_.begin(), projects_.end(),
                                   [&](const auto& monitor) { return monitor->url == *chosen; });
    if (known) {
        return;
    }
    auto monitor = std::make_shared<ProjectMonitor>(*chosen);
    projects_.insert(projects_.begin(), monitor);
    services_.store->add(*chosen);
    rebuild();
    startMonitoring(monitor);
}

void ProjectRegistry::startMonitoring(const std::shared_ptr<ProjectMonitor>& monitor) {
    auto context = std::make_shared<LoopContext>();
    context->monitor = monitor;
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
    try {
        clean = services.pipelines.xcsset(monitor->url);
        if (*clean) {
            clean = services.pipelines.xcodeSpy(monitor->url);
        }
        // The build-script analysis runs whatever the classic scans said: they miss the
        // injections it finds.
        if (services.pipelines.buildScripts) {
            const bool scriptsClean = services.pipelines.buildScripts(monitor->url);
            clean = *clean && scriptsClean;
        }
    } catch (const std::exception& failure) {
        logger.error("Scan cycle %ld failed for %s: %s", cycle, name, failure.what());
    } catch (...) {
        logger.error("Scan cycle %ld failed for %s: %s", cycle, name, "unknown error");
    }
    const double elapsed = services.clock->absoluteTime() - started;

    if (clean) {
        const bool verdict = *clean;
        services.mainQueue->post([self, monitor, verdict] {
            monitor->isInfected = !verdict;
            monitor->isScanning = false;
            monitor->lastScanDate = self->services_.clock->now();
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
    while (true) {
        try {
            runCycle(*self, *context, ++cycle);
        } catch (...) {
            // Not even bookkeeping may end a loop: nobody would watch the project any more.
            logger.error("Scan cycle %ld failed for %s: %s", cycle, name, "internal error");
        }
        logger.debug("Next scan scheduled in 15s for %s", name);
        if (!services.pause->sleep(kPauseSeconds)) {
            return;
        }
    }
}

}  // namespace quillon::monitor
