#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

#include "platform/LoginItem.h"
#include "ui/ScannerViewController.h"
#include "ui/ViewController.h"

class QAction;
class QSystemTrayIcon;

namespace quillon::ui {

// The overall state the tray shows: threats first (a project being rescanned keeps its last
// verdict), then scanning, then all clean.
struct TrayState {
    enum class Kind { clean, scanning, threats } kind = Kind::clean;
    int threats = 0;
    QString toolTip;  // "Quillon: all clean", "Quillon: scanning", "Quillon: 2 threats"
};
TrayState trayState(const std::vector<std::shared_ptr<monitor::ProjectMonitor>>& projects);

// What the main window takes from the desktop.
struct DesktopServices {
    platform::LoginItem* loginItem = nullptr;  // no "Start at login" when null
    bool useTray = false;
    std::function<void()> quit;  // the application's quit, when left empty
};

// The main window: the dashboard, and a File menu to add a project, open the single-project
// scanner, start at login and quit. With a tray icon, closing the window keeps the monitors
// running in the tray, whose menu opens the dashboard, rescans all and quits; without one,
// closing quits.
class MainWindow final : public QMainWindow {
    Q_OBJECT
  public:
    MainWindow(std::shared_ptr<monitor::ProjectRegistry> registry,
               std::shared_ptr<monitor::MainQueue> mainQueue,
               ScannerViewController::Options options, monitor::FolderChooser& chooser,
               ViewController::ProjectScan singleProjectScan, DesktopServices desktop = {});

    ScannerViewController* dashboard() const { return dashboard_; }
    // Opens (or raises) the single-project scanner window.
    ViewController* showSingleProjectScanner();
    // Brings the dashboard to the front.
    void showDashboard();
    void rescanAll();
    void quit();

    QSystemTrayIcon* trayIcon() const { return tray_; }
    QAction* startAtLoginAction() const { return startAtLogin_; }
    const TrayState& currentTrayState() const { return trayState_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void updateTray();

    ScannerViewController* dashboard_;
    std::shared_ptr<monitor::ProjectRegistry> registry_;
    std::shared_ptr<monitor::MainQueue> mainQueue_;
    monitor::FolderChooser& chooser_;
    ViewController::ProjectScan singleProjectScan_;
    DesktopServices desktop_;
    QPointer<ViewController> singleProject_;
    QSystemTrayIcon* tray_ = nullptr;
    QAction* startAtLogin_ = nullptr;
    TrayState trayState_;
    bool quitting_ = false;
};

}  // namespace quillon::ui
