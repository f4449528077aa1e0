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

// One project's card: status dot and text, folder name, path and last-scan line, 700 wide and
// as high as its lines. A fresh view built from the monitor's fields; it keeps no reference to
// the monitor.
class ProjectCard final : public QFrame {
    Q_OBJECT
  public:
    ProjectCard(const monitor::ProjectMonitor& monitor, Appearance appearance,
                std::chrono::system_clock::time_point now, QWidget* parent = nullptr);

    QLabel* statusLabel() const { return statusLabel_; }
    QWidget* statusDot() const { return statusDot_; }
    ElidedLabel* nameLabel() const { return nameLabel_; }
    ElidedLabel* pathLabel() const { return pathLabel_; }
    QLabel* lastScanLabel() const { return lastScanLabel_; }
    const CardState& state() const { return state_; }

  private:
    CardState state_;
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
