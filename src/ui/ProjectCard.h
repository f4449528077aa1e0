#pragma once

#include <QFrame>
#include <chrono>

#include "monitor/ProjectMonitor.h"
#include "ui/ElidedLabel.h"
#include "ui/Palette.h"

class QLabel;

namespace quillon::ui {

// What a card shows for a monitor: scanning first, then infected, then protected.
struct CardState {
    QString statusText;
    NamedColor statusColor;
    QColor background;
    QColor border;
    QString lastScanText;
};
CardState cardState(const monitor::ProjectMonitor& monitor, Appearance appearance,
                    std::chrono::system_clock::time_point now);

// One project's card: status dot and text, folder name, path, for a threat the reason (its
// most severe open finding) and the last-scan line, 700 wide and as high as its lines. A fresh
// view built from the monitor's fields; it keeps no reference to the monitor. Focusable; a
// click or Enter asks for the project's details, its context menu offers the project's actions.
class ProjectCard final : public QFrame {
    Q_OBJECT
  public:
    // `reason` is shown under the path when the card says "Threat Detected" and it is not empty.
    ProjectCard(const monitor::ProjectMonitor& monitor, Appearance appearance,
                std::chrono::system_clock::time_point now, const QString& reason = {},
                QWidget* parent = nullptr);

    QLabel* statusLabel() const { return statusLabel_; }
    QWidget* statusDot() const { return statusDot_; }
    ElidedLabel* nameLabel() const { return nameLabel_; }
    ElidedLabel* pathLabel() const { return pathLabel_; }
    QLabel* lastScanLabel() const { return lastScanLabel_; }
    // Null when the card shows no reason.
    ElidedLabel* reasonLabel() const { return reasonLabel_; }
    const CardState& state() const { return state_; }

  signals:
    void detailsRequested();
    void rescanRequested();
    void removeRequested();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    CardState state_;
    ElidedLabel* reasonLabel_ = nullptr;
    QLabel* statusLabel_;
    QWidget* statusDot_;
    ElidedLabel* nameLabel_;
    ElidedLabel* pathLabel_;
    QLabel* lastScanLabel_;
};

// The card shown when no project is monitored, 700 by 160.
class EmptyStateCard final : public QFrame {
    Q_OBJECT
  public:
    explicit EmptyStateCard(Appearance appearance, QWidget* parent = nullptr);
    QLabel* titleLabel() const { return title_; }
    QLabel* messageLabel() const { return message_; }

  private:
    QLabel* title_;
    QLabel* message_;
};

}  // namespace quillon::ui
