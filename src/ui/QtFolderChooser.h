#pragma once

#include <QPointer>
#include <QWidget>

#include "monitor/ProjectRegistry.h"

namespace quillon::ui {

// A modal folder chooser with a title and a message: the native panel on macOS, Qt's own
// dialog elsewhere (with the message shown above the file list). Main thread only.
class QtFolderChooser final : public monitor::FolderChooser {
  public:
    explicit QtFolderChooser(QWidget* parent = nullptr) : parent_(parent) {}
    std::optional<platform::FileURL> chooseFolder(const std::string& title,
                                                  const std::string& message) override;

  private:
    QPointer<QWidget> parent_;
};

}  // namespace quillon::ui
