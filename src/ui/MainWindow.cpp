#include "ui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>

namespace quillon::ui {

MainWindow::MainWindow(std::shared_ptr<monitor::ProjectRegistry> registry,
                       std::shared_ptr<monitor::MainQueue> mainQueue,
                       ScannerViewController::Options options, monitor::FolderChooser& chooser,
                       ViewController::ProjectScan singleProjectScan)
    : dashboard_(new ScannerViewController(std::move(registry), mainQueue, std::move(options))),
      mainQueue_(std::move(mainQueue)),
      chooser_(chooser),
      singleProjectScan_(std::move(singleProjectScan)) {
    setCentralWidget(dashboard_);
    setWindowTitle(QString::fromUtf8(ScannerViewController::kWindowTitle));
    resize(820, 640);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* add = file->addAction(tr("Add Project\u2026"), dashboard_,
                                   &ScannerViewController::didTapAddProject);
    add->setShortcut(QKeySequence::Open);
    file->addAction(tr("Scan Single Project\u2026"), this, [this] { showSingleProjectScanner(); });
    file->addSeparator();
    QAction* quit = file->addAction(tr("Quit Quillon"), qApp, &QApplication::quit);
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
}

ViewController* MainWindow::showSingleProjectScanner() {
    if (!singleProject_) {
        singleProject_ = new ViewController(chooser_, mainQueue_, singleProjectScan_);
        singleProject_->setAttribute(Qt::WA_DeleteOnClose);
    }
    singleProject_->show();
    singleProject_->raise();
    singleProject_->activateWindow();
    return singleProject_;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (singleProject_) {
        singleProject_->close();
    }
    qApp->quit();
}

}  // namespace quillon::ui
