// The composition root of the desktop application: the one place where the real services are
// wired together.
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

#include "core/pipelines/ScanPipelines.h"
#include "monitor/ProjectRegistry.h"
#include "platform/Bookmarks.h"
#include "platform/LineWriter.h"
#include "platform/Log.h"
#include "platform/qt/QSettingsDefaults.h"
#include "platform/qt/QtFolderChooser.h"
#include "platform/qt/QtMainQueue.h"
#include "ui/MainWindow.h"
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

    auto mainQueue = std::make_shared<platform::qt::QtMainQueue>();
    platform::qt::QSettingsDefaults defaults;
    auto store = std::make_shared<monitor::URLStore>(defaults, platform::systemBookmarks());
    platform::qt::QtFolderChooser chooser;
    auto registry = monitor::ProjectRegistry::create({
        mainQueue,
        std::make_shared<monitor::SystemClock>(),
        std::make_shared<monitor::ThreadPause>(),
        monitor::detachedThreads(),
        // Each run's listing goes out in whole blocks when the run ends: a monorepo lists tens of
        // thousands of files every cycle.
        {[](const platform::FileURL& url) {
             platform::BufferedLineWriter output(STDOUT_FILENO);
             return core::pipelines::scanXCSSETFinal(url, output);
         },
         [](const platform::FileURL& url) {
             platform::BufferedLineWriter output(STDOUT_FILENO);
             return core::pipelines::scanXcodeSecurityFinal(url, output);
         },
         [](const platform::FileURL& url) {
             platform::BufferedLineWriter output(STDOUT_FILENO);
             return core::pipelines::scanBuildScriptsFinal(url, output);
         }},
        store,
        &platform::systemBookmarks(),
        &chooser,
        &platform::standardOutput(),
    });

    ui::MainWindow window(registry, mainQueue, {std::chrono::seconds(5), samplePage(), {}}, chooser,
                          [](const platform::FileURL& folder) {
                              return core::pipelines::runSingleProjectScan(
                                  folder, platform::standardOutput());
                          });
    QObject::connect(&instance, &ui::SingleInstance::activationRequested, &window, [&window] {
        window.showNormal();
        window.raise();
        window.activateWindow();
    });
    window.show();

    const int status = application.exec();
    // Scan loops never stop; they end with the process, without running static destructors
    // under their feet.
    std::fflush(nullptr);
    std::_Exit(status);
}
