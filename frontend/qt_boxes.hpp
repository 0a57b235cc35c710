// SPDX-License-Identifier: GPL-3.0-or-later
// The front end's message boxes as desktop dialogs (QMessageBox), and the desktop box that
// the console encoder asks for through "tarvik-gui --message-box <icon> <caption> <text>".
#pragma once

#include "frontend/gui_box.hpp"

#include <QString>

namespace tarvik::gui {

// Qt's string of a UTF-8 text.
inline QString text_of(const std::string& text) {
    return QString::fromStdString(text);
}

// The front end's error box for a text built in Qt (through tr()).
inline void show_error(const QString& message) {
    show_gui_error(message.toStdString());
}

class QtMessageBoxes final : public MessageBoxes {
  public:
    BoxAnswer Show(const BoxRequest& request) override;
};

// Handles "--message-box <icon> <caption> <text>" (a QApplication must exist): shows the
// box and returns 0 when it was closed, 2 for a malformed request.
int RunMessageBoxOption(int argc, char** argv);

} // namespace tarvik::gui
