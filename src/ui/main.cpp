// The composition root of the desktop application: the one place where the real services are
// wired together.
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSystemTrayIcon>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

#include "monitor/AcceptedFindings.h"
#include "monitor/ProjectRegistry.h"
#include "monitor/RunOutcome.h"
#include "platform/Bookmarks.h"
#include "platform/LineWriter.h"
#include "platform/Log.h"
#include "platform/LoginItem.h"
#include "platform/qt/QSettingsDefaults.h"
#include "scan/Analyses.h"
#include "scan/ScanPipelines.h"
#include "ui/FreedesktopNotifier.h"
#include "ui/MainWindow.h"
#include "ui/QtFolderChooser.h"
#include "ui/QtMainQueue.h"
#include "ui/SingleInstance.h"

namespace {

using namespace quillon;

// QUILLON_LOG_LEVEL=error|info|debug sends records to standard error; otherwise the journal
// takes them where it runs, and standard error (errors only) where it does not.
void installLogSink() {
    const QByteArray level = qgetenv("QUILLON_LOG_LEVEL");
    if (level == "debug" || level == "info" || level == "error") {
        const auto minimum = level == "debug"  ? platform::LogLevel::debug
                             : level == "info" ? platform::LogLevel::info
                                               : platform::LogLevel::error;
        platform::setLogSink(std::make_shared<platform::StderrLogSink>(minimum));
    } else if (platform::JournalLogSink::available()) {
        platform::setLogSink(std::make_shared<platform::JournalLogSink>());
    } else {
        platform::setLogSink(std::make_shared<platform::StderrLogSink>(platform::LogLevel::error));
    }
}

// The page describing the bundled harmless samples: beside the executable when installed,
// else in the source tree it was built from.
QUrl samplePage() {
    const QString beside = QCoreApplication::applicationDirPath() + "/samples/README.md";
    if (QFileInfo::exists(beside)) {
        return QUrl::fromLocalFile(beside);
    }
    return QUrl::fromLocalFile(QStringLiteral(QUILLON_SOURCE_DIR "/samples/README.md"));
}

// The monitor's cycle: every analysis of the list, in its order, sharing one walk and one read
// of each file. Each run's listing goes out in whole blocks when the run ends: a monorepo lists
// tens of thousands of files every cycle.
monitor::CyclePipelines cyclePipelines() {
    monitor::CyclePipelines pipelines;
    for (const scan::Analysis& analysis : scan::analyses()) {
        pipelines.steps.push_back({std::string(analysis.name), analysis.onlyAfterClean,
                                   [run = analysis.run](const platform::FileURL& folder) {
                                       platform::BufferedLineWriter output(STDOUT_FILENO);
                                       return monitor::outcomeOf(run(folder, output), folder);
                                   }});
    }
    pipelines.beginCycle = [](const platform::FileURL& folder) -> std::shared_ptr<void> {
        return scan::shareCycle(folder);
    };
    return pipelines;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName("Quillon");
    QCoreApplication::setApplicationName("Quillon");
    QCoreApplication::setApplicationVersion(QUILLON_VERSION);

    ui::SingleInstance instance;
    if (!instance.isPrimary()) {
        std::fprintf(stderr, "quillon: already running; bringing it to the front\n");
        instance.activatePrimary();
        return 0;
    }
    installLogSink();

    auto mainQueue = std::make_shared<ui::QtMainQueue>();
    platform::qt::QSettingsDefaults defaults;
    auto store = std::make_shared<monitor::URLStore>(defaults, platform::systemBookmarks());
    ui::QtFolderChooser chooser;
    auto accepted = std::make_shared<monitor::AcceptedFindings>(defaults);
    ui::FreedesktopNotifier notifier;
    auto registry = monitor::ProjectRegistry::create({
        mainQueue,
        std::make_shared<monitor::SystemClock>(),
        std::make_shared<monitor::ThreadPause>(),
        monitor::detachedThreads(),
        cyclePipelines(),
        store,
        &platform::systemBookmarks(),
        &chooser,
        &platform::standardOutput(),
        accepted,
        &notifier,
    });

    // quillon [--background] [FOLDER...]: folders are added to the list; --background starts in
    // the tray without opening the window (the login item's way).
    bool background = false;
    std::vector<platform::FileURL> folders;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--background")) {
            background = true;
        } else if (!arguments[i].startsWith(QLatin1Char('-'))) {
            folders.emplace_back(QFileInfo(arguments[i]).absoluteFilePath().toStdString(), true);
        }
    }
    const bool useTray = QSystemTrayIcon::isSystemTrayAvailable();
    // Details windows closing while the dashboard sits in the tray must not end the application.
    QApplication::setQuitOnLastWindowClosed(!useTray);
    platform::XdgAutostart autostart(QCoreApplication::applicationFilePath().toStdString());

    ui::ScannerViewController::Options options;
    options.restoreDelay = std::chrono::seconds(5);
    options.samplePage = samplePage();
    options.addAfterRestore = std::move(folders);
    ui::MainWindow window(registry, mainQueue, std::move(options), chooser,
                          [](const platform::FileURL& folder) {
                              return scan::runSingleProjectScan(folder, platform::standardOutput());
                          },
                          {&autostart, useTray, {}});
    QObject::connect(&instance, &ui::SingleInstance::activationRequested, &window,
                     [&window] { window.showDashboard(); });
    if (background && useTray) {
        window.dashboard()->appear();
    } else {
        window.show();
    }

    const int status = application.exec();
    // Scan loops never stop; they end with the process, without running static destructors
    // under their feet.
    std::fflush(nullptr);
    std::_Exit(status);
}
