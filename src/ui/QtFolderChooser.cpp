#include "ui/QtFolderChooser.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>

namespace quillon::ui {

std::optional<platform::FileURL> QtFolderChooser::chooseFolder(const std::string& title,
                                                               const std::string& message) {
    QFileDialog dialog(parent_, QString::fromStdString(title));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
#ifndef Q_OS_MACOS
    // Qt's own dialog has no message line: add one under its file list.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        auto* label = new QLabel(QString::fromStdString(message), &dialog);
        label->setWordWrap(true);
        grid->addWidget(label, grid->rowCount(), 0, 1, grid->columnCount());
    }
#else
    Q_UNUSED(message);
#endif
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return platform::FileURL(dialog.selectedFiles().front().toStdString(), true);
}

}  // namespace quillon::ui
