// SPDX-License-Identifier: GPL-3.0-or-later
// Folder selection: the small interface through which the dialog and the start-up sequence
// ask for a folder (tests replace it), and its desktop form.
#pragma once

#include <optional>
#include <string>

class QString;
class QWidget;

namespace tarvik::gui {

class FolderChooser {
  public:
    virtual ~FolderChooser() = default;
    // Asks for an existing folder, starting at `initialFolder` when one is given; nothing
    // when the user cancelled.
    virtual std::optional<std::string> choose(QWidget* owner, const QString& title,
                                              const std::string& initialFolder) = 0;
};

// The desktop's directory box (QFileDialog), modal.
class DesktopFolderChooser final : public FolderChooser {
  public:
    std::optional<std::string> choose(QWidget* owner, const QString& title,
                                      const std::string& initialFolder) override;
};

} // namespace tarvik::gui
