#include "ui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QSystemTrayIcon>

namespace quillon::ui {

namespace {

// A round badge in the state's colour; a count for threats.
QIcon trayStateIcon(const TrayState& state) {
    const Appearance appearance = Appearance::light;
    const NamedColor color = state.kind == TrayState::Kind::threats    ? NamedColor::systemRed
                             : state.kind == TrayState::Kind::scanning ? NamedColor::systemBlue
                                                                       : NamedColor::systemGreen;
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(namedColor(color, appearance));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(4, 4, 56, 56);
    if (state.kind == TrayState::Kind::threats) {
        painter.setPen(Qt::white);
        QFont font = systemFont(30, QFont::Bold);
        painter.setFont(font);
        painter.drawText(pixmap.rect(), Qt::AlignCenter,
                         state.threats > 9 ? QStringLiteral("9+") : QString::number(state.threats));
    }
    return QIcon(pixmap);
}

}  // namespace

TrayState trayState(const std::vector<std::shared_ptr<monitor::ProjectMonitor>>& projects) {
    TrayState state;
    bool scanning = false;
    for (const auto& monitor : projects) {
        state.threats += monitor->isInfected ? 1 : 0;
        scanning = scanning || monitor->isScanning;
    }
    if (state.threats > 0) {
        state.kind = TrayState::Kind::threats;
        state.toolTip = state.threats == 1
                            ? QStringLiteral("Quillon: 1 threat")
                            : QStringLiteral("Quillon: %1 threats").arg(state.threats);
    } else if (scanning) {
        state.kind = TrayState::Kind::scanning;
        state.toolTip = QStringLiteral("Quillon: scanning");
    } else {
        state.toolTip = QStringLiteral("Quillon: all clean");
    }
    return state;
}

MainWindow::MainWindow(std::shared_ptr<monitor::ProjectRegistry> registry,
                       std::shared_ptr<monitor::MainQueue> mainQueue,
                       ScannerViewController::Options options, monitor::FolderChooser& chooser,
                       ViewController::ProjectScan singleProjectScan, DesktopServices desktop)
    : dashboard_(new ScannerViewController(registry, mainQueue, std::move(options))),
      registry_(std::move(registry)),
      mainQueue_(std::move(mainQueue)),
      chooser_(chooser),
      singleProjectScan_(std::move(singleProjectScan)),
      desktop_(std::move(desktop)) {
    setCentralWidget(dashboard_);
    setWindowTitle(QString::fromUtf8(ScannerViewController::kWindowTitle));
    resize(820, 640);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* add = file->addAction(tr("Add Project\u2026"), dashboard_,
                                   &ScannerViewController::didTapAddProject);
    add->setShortcut(QKeySequence::Open);
    file->addAction(tr("Scan Single Project\u2026"), this, [this] { showSingleProjectScanner(); });
    file->addAction(tr("Rescan All"), this, [this] { rescanAll(); });
    if (desktop_.loginItem != nullptr) {
        file->addSeparator();
        startAtLogin_ = file->addAction(tr("Start at login"));
        startAtLogin_->setCheckable(true);
        startAtLogin_->setChecked(desktop_.loginItem->isEnabled());
        connect(startAtLogin_, &QAction::toggled, this, [this](bool enabled) {
            std::string error;
            if (!desktop_.loginItem->setEnabled(enabled, error)) {
                QMessageBox::warning(this, tr("Start at login"),
                                     tr("Quillon could not change its login item: %1")
                                         .arg(QString::fromStdString(error)));
                const QSignalBlocker blocker(startAtLogin_);
                startAtLogin_->setChecked(desktop_.loginItem->isEnabled());
            }
        });
    }
    file->addSeparator();
    QAction* quitAction = file->addAction(tr("Quit Quillon"), this, [this] { quit(); });
    quitAction->setShortcut(QKeySequence::Quit);
    quitAction->setMenuRole(QAction::QuitRole);

    if (desktop_.useTray) {
        tray_ = new QSystemTrayIcon(this);
        auto* menu = new QMenu(this);
        menu->addAction(tr("Open Dashboard"), this, [this] { showDashboard(); });
        menu->addAction(tr("Rescan All"), this, [this] { rescanAll(); });
        menu->addSeparator();
        menu->addAction(tr("Quit Quillon"), this, [this] { quit(); });
        tray_->setContextMenu(menu);
        connect(
            tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    showDashboard();
                }
            });
        connect(dashboard_, &ScannerViewController::dashboardRebuilt, this,
                [this] { updateTray(); });
        updateTray();
        tray_->show();
    }
}

void MainWindow::updateTray() {
    if (tray_ == nullptr) {
        return;
    }
    const TrayState next = trayState(registry_->projects());
    if (next.toolTip == trayState_.toolTip && !tray_->icon().isNull()) {
        return;
    }
    trayState_ = next;
    tray_->setIcon(trayStateIcon(trayState_));
    tray_->setToolTip(trayState_.toolTip);
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

void MainWindow::showDashboard() {
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::rescanAll() {
    for (const auto& monitor : registry_->projects()) {
        registry_->rescan(monitor);
    }
}

void MainWindow::quit() {
    quitting_ = true;
    if (singleProject_) {
        singleProject_->close();
    }
    if (desktop_.quit) {
        desktop_.quit();
    } else {
        qApp->quit();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (tray_ != nullptr && !quitting_) {
        // The monitors keep running; the tray brings the window back.
        event->ignore();
        hide();
        return;
    }
    QMainWindow::closeEvent(event);
    quit();
}

}  // namespace quillon::ui
