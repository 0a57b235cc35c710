// Folder selection: CFolderPicker, the desktop's directory box, and the small interface
// through which the dialog and the start-up sequence ask for a folder (tests replace it).
#pragma once

#include <QString>

#include <optional>
#include <string>

class QWidget;

namespace tarvik::gui {

// A directory box over QFileDialog: only existing directories can be confirmed, and it
// opens at the initial folder when one is given.
class CFolderPicker {
  public:
    CFolderPicker(QWidget* owner, const std::string& title, const std::string& initialFolder = {});
    // Runs the box modally; true when a folder was chosen.
    bool Show();
    // The chosen folder, or nothing when the box was cancelled.
    std::optional<std::string> Result() const;

  private:
    QWidget* owner_;
    QString title_;
    std::string initialFolder_;
    std::string chosenFolder_;
};

class FolderChooser {
  public:
    virtual ~FolderChooser() = default;
    virtual std::optional<std::string> Choose(QWidget* owner, const std::string& title,
                                              const std::string& initialFolder) = 0;
};

class DesktopFolderChooser final : public FolderChooser {
  public:
    std::optional<std::string> Choose(QWidget* owner, const std::string& title,
                                      const std::string& initialFolder) override;
};

} // namespace tarvik::gui
