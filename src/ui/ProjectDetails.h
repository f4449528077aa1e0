#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "monitor/ProjectRegistry.h"
#include "ui/Palette.h"

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace quillon::ui {

// What the details view asks of the desktop; each has a real default when left empty.
struct DetailsActions {
    std::function<void(const QUrl&)> openUrl;                         // the file manager
    std::function<std::optional<QString>(const QString&)> askReason;  // one line, or cancelled
    std::function<std::optional<QString>(const QString&)> chooseSavePath;
    std::function<void(const QString&)> copyText;  // the clipboard
};

// A project's details: for each finding its severity, title, place, defanged evidence, decoded
// layers in selectable monospaced boxes and what to do, with "Show in file manager" and
// "Accept finding…"; the files the scan could not read; the accepted findings, each of which can
// be restored; and "Rescan now", "Copy report" and "Export baseline…" for the project.
//
// A window of its own, built from the monitor's record; `refresh` rebuilds it when the record or
// the accepted findings changed. Main thread only.
class ProjectDetails final : public QWidget {
    Q_OBJECT
  public:
    ProjectDetails(std::shared_ptr<monitor::ProjectRegistry> registry,
                   std::shared_ptr<monitor::ProjectMonitor> monitor, Appearance appearance,
                   DetailsActions actions, QWidget* parent = nullptr);

    void refresh();
    const std::shared_ptr<monitor::ProjectMonitor>& monitor() const { return monitor_; }

    // The text "Copy report" puts on the clipboard.
    QString reportText() const;

    // The shown parts, for tests and screen readers.
    QLabel* statusLabel() const { return status_; }
    QPushButton* rescanButton() const { return rescan_; }
    QPushButton* copyButton() const { return copy_; }
    QPushButton* exportButton() const { return export_; }
    // One box per shown finding, in order; each has the finding's fingerprint as property
    // "fingerprint".
    QList<QWidget*> findingBoxes() const;
    QList<QWidget*> acceptedRows() const;
    QList<QLabel*> diagnosticLabels() const;

    void acceptFinding(const core::Finding& finding);
    void showInFileManager(const core::Finding& finding);
    void exportBaseline();

  private:
    QString signature() const;
    void rebuild();
    QWidget* makeFindingBox(const core::Finding& finding);

    std::shared_ptr<monitor::ProjectRegistry> registry_;
    std::shared_ptr<monitor::ProjectMonitor> monitor_;
    Appearance appearance_;
    DetailsActions actions_;
    QString shown_;

    QLabel* title_;
    QLabel* path_;
    QLabel* status_;
    QPushButton* rescan_;
    QPushButton* copy_;
    QPushButton* export_;
    QScrollArea* scroll_;
    QWidget* content_ = nullptr;
};

// What to do about a finding: its own remedy, or for the classic rules a general one.
std::string whatToDo(const core::Finding& finding);

}  // namespace quillon::ui
