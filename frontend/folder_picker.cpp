#include "frontend/folder_picker.hpp"

#include <QFile>
#include <QFileDialog>

namespace tarvik::gui {

CFolderPicker::CFolderPicker(QWidget* owner, const std::string& title,
                             const std::string& initialFolder)
    : owner_(owner), title_(QString::fromStdString(title)), initialFolder_(initialFolder) {}

bool CFolderPicker::Show() {
    chosenFolder_.clear();
    QFileDialog box(owner_, title_);
    box.setFileMode(QFileDialog::Directory);
    box.setOption(QFileDialog::ShowDirsOnly, true);
    box.setAcceptMode(QFileDialog::AcceptOpen);
    if (!initialFolder_.empty()) box.setDirectory(QFile::decodeName(initialFolder_.c_str()));
    if (box.exec() == QDialog::Accepted && !box.selectedFiles().isEmpty())
        chosenFolder_ = QFile::encodeName(box.selectedFiles().constFirst()).toStdString();
    return !chosenFolder_.empty();
}

std::optional<std::string> CFolderPicker::Result() const {
    if (chosenFolder_.empty()) return std::nullopt;
    return chosenFolder_;
}

std::optional<std::string> DesktopFolderChooser::Choose(QWidget* owner, const std::string& title,
                                                        const std::string& initialFolder) {
    CFolderPicker picker(owner, title, initialFolder);
    picker.Show();
    return picker.Result();
}

} // namespace tarvik::gui
