// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/messages.hpp"

#include "common/paths.hpp"
#include "common/text.hpp"
#include "platform/box.hpp"

namespace tarvik {

void show_error(const char* unit, int line, const std::string& message) {
    const std::string text = "************ ERROR ************\n" + message + "\n";
    const std::string name = file_part(unit ? unit : "").value_or("");
    const std::string caption =
        format_text("%s - [called from \"%s\", line %d]", kProgramCaption, name.c_str(), line);
    platform::show_box(platform::BoxIcon::Error, caption, text);
}

void show_info(const std::string& text) {
    platform::show_box(platform::BoxIcon::Information, kProgramCaption, text);
}

} // namespace tarvik
