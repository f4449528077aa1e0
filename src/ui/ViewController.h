#pragma once

#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "monitor/MainQueue.h"
#include "monitor/ProjectRegistry.h"
#include "platform/FileURL.h"
#include "ui/Palette.h"

class QLabel;

namespace quillon::ui {

class Spinner;

// The single-project scanner: choose a folder, scan it once with the XCSSET detector, turn
// green (clean) or red (threat). Keeps no history and starts no monitoring. Main thread only;
// the scan itself runs on a worker of its own and reports back through the main queue.
class ViewController final : public QWidget {
    Q_OBJECT
  public:
    // Returns true when the folder is clean; called on the worker.
    using ProjectScan = std::function<bool(const platform::FileURL&)>;

    ViewController(monitor::FolderChooser& chooser, std::shared_ptr<monitor::MainQueue> mainQueue,
                   ProjectScan scan, QWidget* parent = nullptr);

    void didTapSelectProject();

    QLabel* titleLabel() const { return titleLabel_; }
    QLabel* subtitleLabel() const { return subtitleLabel_; }
    QPushButton* selectButton() const { return selectButton_; }
    QLabel* statusLabel() const { return statusLabel_; }
    QLabel* scanningLabel() const { return scanningLabel_; }
    Spinner* progressIndicator() const { return progressIndicator_; }
    const std::optional<platform::FileURL>& selectedProjectURL() const {
        return selectedProjectURL_;
    }
    // The view's current background colour.
    QColor backgroundColor() const { return background_; }

  private:
    void chooseProjectFolder();
    void startScan(const platform::FileURL& folder);
    void showScanning(const QString& folderName);
    void showClean();
    void showThreat();
    void showVerdict(const QColor& background, const QString& status);
    void setBackground(const QColor& color);

    monitor::FolderChooser& chooser_;
    std::shared_ptr<monitor::MainQueue> mainQueue_;
    ProjectScan scan_;
    Appearance appearance_;

    QLabel* titleLabel_;
    QLabel* subtitleLabel_;
    QPushButton* selectButton_;
    QLabel* statusLabel_;
    QLabel* scanningLabel_;
    Spinner* progressIndicator_;
    std::optional<platform::FileURL> selectedProjectURL_;
    QColor background_;
};

}  // namespace quillon::ui
