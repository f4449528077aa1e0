#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <memory>

#include "monitor/ProjectRegistry.h"
#include "support/MonitorFakes.h"
#include "support/TempTree.h"
#include "ui/ProjectCard.h"
#include "ui/QtMainQueue.h"
#include "ui/ScannerViewController.h"

namespace quillon::ui::testing {

// A dashboard over an in-memory store, a fake chooser and loops that never start, on the real
// Qt main queue.
class DashboardFixture : public ::testing::Test {
  protected:
    std::shared_ptr<monitor::ProjectRegistry> makeRegistry() {
        auto store = std::make_shared<monitor::URLStore>(defaults, platform::systemBookmarks());
        return monitor::ProjectRegistry::create(
            {queue, std::make_shared<monitor::fakes::FakeClock>(), pause, workers.starter(runLoops),
             monitor::fakes::cycleOf(
                 [this](const platform::FileURL&) {
                     cycles.increment();
                     return true;
                 },
                 [](const platform::FileURL&) { return true; }),
             store, &platform::systemBookmarks(), &chooser, &platform::nullOutput(), accepted,
             &notifier});
    }

    std::unique_ptr<ScannerViewController> makeDashboard(
        std::chrono::milliseconds restoreDelay = std::chrono::milliseconds(20)) {
        ScannerViewController::Options options;
        options.restoreDelay = restoreDelay;
        options.samplePage = QUrl("file:///samples/README.md");
        options.openUrl = [this](const QUrl& url) { opened.push_back(url); };
        options.details.openUrl = [this](const QUrl& url) { revealed.push_back(url); };
        options.details.askReason = [this](const QString& prompt) {
            prompts.push_back(prompt);
            return nextReason;
        };
        options.details.copyText = [this](const QString& text) { copied = text; };
        options.details.chooseSavePath = [this](const QString&) { return savePath; };
        options.confirm = [this](const QString& question) {
            questions.push_back(question);
            return confirmAnswer;
        };
        auto dashboard =
            std::make_unique<ScannerViewController>(makeRegistry(), queue, std::move(options));
        dashboard->resize(900, 700);
        return dashboard;
    }

    // Shows the dashboard and waits until the stored projects were restored.
    void showAndRestore(ScannerViewController& dashboard) {
        dashboard.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dashboard));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return !dashboard.loadingOverlay()->isVisible(); }, 5000));
    }

    platform::FileURL project(const std::string& name) {
        tree.write(name + "/" + name + ".xcodeproj/project.pbxproj", "");
        return platform::FileURL(tree.path(name), true);
    }

    QStringList cardNames(const ScannerViewController& dashboard) {
        QStringList names;
        for (QWidget* card : dashboard.cards()) {
            if (auto* project = qobject_cast<ProjectCard*>(card)) {
                names << project->nameLabel()->fullText();
            }
        }
        return names;
    }

    void TearDown() override {
        pause->stop();
        workers.join();
    }

    quillon::testing::TempTree tree;
    // Loops run only where a test asks for them; each cycle is counted.
    bool runLoops = false;
    monitor::fakes::Counter cycles;
    std::shared_ptr<monitor::fakes::GatedPause> pause =
        std::make_shared<monitor::fakes::GatedPause>();
    platform::MemoryDefaults defaults;
    std::shared_ptr<monitor::AcceptedFindings> accepted =
        std::make_shared<monitor::AcceptedFindings>(defaults);
    monitor::fakes::FakeNotifier notifier;
    std::shared_ptr<QtMainQueue> queue = std::make_shared<QtMainQueue>();
    monitor::fakes::Workers workers;
    monitor::fakes::FakeChooser chooser;
    std::vector<QUrl> opened;
    // What the details view and removal asked of the desktop, and what they get back.
    std::vector<QUrl> revealed;
    std::vector<QString> prompts;
    std::vector<QString> questions;
    std::optional<QString> nextReason;
    std::optional<QString> savePath;
    QString copied;
    bool confirmAnswer = true;
};

}  // namespace quillon::ui::testing
