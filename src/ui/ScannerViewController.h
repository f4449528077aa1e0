#pragma once

#include <QFrame>
#include <QPushButton>
#include <QScrollArea>
#include <QUrl>
#include <QVBoxLayout>
#include <chrono>
#include <functional>
#include <map>
#include <memory>

#include "monitor/ProjectRegistry.h"
#include "ui/Palette.h"
#include "ui/ProjectDetails.h"

class QLabel;

namespace quillon::ui {

class Spinner;

// The dashboard: a header with the product title, a description, the monitored count and two
// buttons, above a scrolling list of one card per monitored project. Owns the project list
// through the registry, and is the registry's dashboard. Main thread only.
class ScannerViewController final : public QWidget, public monitor::Dashboard {
    Q_OBJECT
  public:
    struct Options {
        std::chrono::milliseconds restoreDelay{5000};
        QUrl samplePage;
        std::function<void(const QUrl&)> openUrl;  // the default browser in the application
        DetailsActions details;
        // Asks before a project is removed; the real one is a message box.
        std::function<bool(const QString& question)> confirm;
        // Folders to add once the stored projects are restored (named on the command line).
        std::vector<platform::FileURL> addAfterRestore;
    };

    ScannerViewController(std::shared_ptr<monitor::ProjectRegistry> registry,
                          std::shared_ptr<monitor::MainQueue> mainQueue, Options options,
                          QWidget* parent = nullptr);
    ~ScannerViewController() override;

    void rebuildDashboard() override;
    void setLoading(bool show) override;
    // Opens (or raises) the project's details window.
    void showDetails(const std::shared_ptr<monitor::ProjectMonitor>& monitor) override;
    // Asks, then stops the project's monitoring and takes it off the list.
    void removeProject(const std::shared_ptr<monitor::ProjectMonitor>& monitor);
    // The open details window of a project, if any.
    ProjectDetails* details(const monitor::ProjectMonitor& monitor) const;
    // The card's reason line for a monitor: its most severe open threat, or empty.
    QString reasonFor(const monitor::ProjectMonitor& monitor) const;
    // What an appearance of the view does: the loading overlay, and after the restore delay the
    // restoration of the stored projects (the first time only). Also for a start without a
    // window (in the tray).
    void appear();
    void didTapAddProject();
    void didTapGenerateSample();

    monitor::ProjectRegistry& registry() const { return *registry_; }
    QLabel* titleLabel() const { return titleLabel_; }
    QLabel* subtitleLabel() const { return subtitleLabel_; }
    QLabel* monitoredCountLabel() const { return monitoredCountLabel_; }
    QPushButton* addProjectButton() const { return addProjectButton_; }
    QPushButton* generateSampleButton() const { return generateSampleButton_; }
    QFrame* topContainer() const { return topContainer_; }
    QWidget* dashboardContainer() const { return dashboardContainer_; }
    QScrollArea* scrollView() const { return scrollView_; }
    QWidget* loadingOverlay() const { return loadingOverlay_; }
    Spinner* loadingSpinner() const { return loadingSpinner_; }
    // The cards of the last rebuild, in order.
    QList<QWidget*> cards() const;

    static constexpr const char* kWindowTitle = "\U0001F981 Quillon For XCode";

  signals:
    // After every rebuild, for the parts that summarise the projects (the tray).
    void dashboardRebuilt();

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void setupUI();

    std::shared_ptr<monitor::ProjectRegistry> registry_;
    std::shared_ptr<monitor::MainQueue> mainQueue_;
    Options options_;
    Appearance appearance_;

    QLabel* titleLabel_;
    QLabel* subtitleLabel_;
    QLabel* monitoredCountLabel_;
    QPushButton* addProjectButton_;
    QPushButton* generateSampleButton_;
    QFrame* topContainer_;
    QWidget* dashboardContainer_;
    QVBoxLayout* dashboardLayout_;
    QScrollArea* scrollView_;
    QWidget* loadingOverlay_;
    Spinner* loadingSpinner_;
    std::map<const monitor::ProjectMonitor*, QPointer<ProjectDetails>> details_;
    std::vector<const monitor::ProjectMonitor*> focusOrder_;
    bool restoreScheduled_ = false;  // the monitor of each card
};

}  // namespace quillon::ui
