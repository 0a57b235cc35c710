// The front end's message boxes as desktop dialogs (QMessageBox), and the desktop box that
// the console encoder asks for through "tarvik-gui --message-box <icon> <caption> <text>".
#pragma once

#include "frontend/gui_box.hpp"

namespace tarvik::gui {

class QtMessageBoxes final : public MessageBoxes {
  public:
    BoxAnswer Show(const BoxRequest& request) override;
};

// Handles "--message-box <icon> <caption> <text>" (a QApplication must exist): shows the
// box and returns 0 when it was closed, 2 for a malformed request.
int RunMessageBoxOption(int argc, char** argv);

} // namespace tarvik::gui
