// SPDX-License-Identifier: GPL-3.0-or-later
// The front end's message boxes. The model code asks through this small interface; the
// desktop application installs a form that shows real dialogs, and until one is installed
// (and in the model's tests) the platform's console box stands in.
#pragma once

#include "common/version.hpp"
#include "platform/box.hpp"

#include <string>

namespace tarvik::gui {

// Caption of every box of the front end; also its dialog's title.
inline constexpr const char* kGuiCaption = "tarvik's gui " TARVIK_VERSION;

using platform::BoxIcon;
enum class BoxButtons { Ok, YesNo };
enum class BoxAnswer { Ok, Yes, No };

struct BoxRequest {
    BoxIcon icon = BoxIcon::Information;
    std::string caption;
    std::string text;
    BoxButtons buttons = BoxButtons::Ok;
    bool ownedByDialog = false; // false: no owner window
};

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    // Shows the box modally and returns the button the user chose.
    virtual BoxAnswer Show(const BoxRequest& request) = 0;
};

// Installs the box form used from now on (not owned); nullptr restores the console form.
void SetMessageBoxes(MessageBoxes* boxes);
MessageBoxes& CurrentMessageBoxes();

// The front end's error box: the message under the line "************ ERROR ************",
// caption kGuiCaption, error icon, no owner window.
void show_gui_error(const std::string& message);

} // namespace tarvik::gui
