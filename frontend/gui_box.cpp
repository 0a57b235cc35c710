// SPDX-License-Identifier: GPL-3.0-or-later
#include "frontend/gui_box.hpp"

namespace tarvik::gui {

namespace {
// The console stand-in: the platform box has no buttons, so a question is taken as Yes.
class ConsoleBoxes final : public MessageBoxes {
  public:
    BoxAnswer Show(const BoxRequest& r) override {
        platform::show_box(r.icon, r.caption, r.text);
        return r.buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
    }
};

ConsoleBoxes console_boxes;
MessageBoxes* current = nullptr;
} // namespace

void SetMessageBoxes(MessageBoxes* boxes) {
    current = boxes;
}

MessageBoxes& CurrentMessageBoxes() {
    return current ? *current : console_boxes;
}

void show_gui_error(const std::string& message) {
    CurrentMessageBoxes().Show({BoxIcon::Error, kGuiCaption,
                                "************ ERROR ************\n" + message + "\n",
                                BoxButtons::Ok, false});
}

} // namespace tarvik::gui
