#pragma once

#include <QMainWindow>
#include <QPointer>
#include <memory>

#include "ui/ScannerViewController.h"
#include "ui/ViewController.h"

namespace quillon::ui {

// The main window: the dashboard, and a menu that opens the single-project scanner. Closing it
// quits the application.
class MainWindow final : public QMainWindow {
    Q_OBJECT
  public:
    MainWindow(std::shared_ptr<monitor::ProjectRegistry> registry,
               std::shared_ptr<monitor::MainQueue> mainQueue,
               ScannerViewController::Options options, monitor::FolderChooser& chooser,
               ViewController::ProjectScan singleProjectScan);

    ScannerViewController* dashboard() const { return dashboard_; }
    // Opens (or raises) the single-project scanner window.
    ViewController* showSingleProjectScanner();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    ScannerViewController* dashboard_;
    std::shared_ptr<monitor::MainQueue> mainQueue_;
    monitor::FolderChooser& chooser_;
    ViewController::ProjectScan singleProjectScan_;
    QPointer<ViewController> singleProject_;
};

}  // namespace quillon::ui
