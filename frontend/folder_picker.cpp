// SPDX-License-Identifier: GPL-3.0-or-later
#include "frontend/folder_picker.hpp"

#include <QFile>
#include <QFileDialog>

namespace tarvik::gui {

std::optional<std::string> DesktopFolderChooser::choose(QWidget* owner, const QString& title,
                                                        const std::string& initialFolder) {
    QFileDialog box(owner, title);
    box.setFileMode(QFileDialog::Directory);
    box.setOption(QFileDialog::ShowDirsOnly, true);
    box.setAcceptMode(QFileDialog::AcceptOpen);
    if (!initialFolder.empty()) box.setDirectory(QFile::decodeName(initialFolder.c_str()));
    if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty()) return std::nullopt;
    std::string chosen = QFile::encodeName(box.selectedFiles().constFirst()).toStdString();
    if (chosen.empty()) return std::nullopt;
    return chosen;
}

} // namespace tarvik::gui
