// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/error_boxes.hpp"

#include "common/messages.hpp"

namespace tarvik {

std::string error_box_text(ErrorBox id, std::initializer_list<std::string_view> args) {
    const std::string_view text = error_box_row(id).text;
    std::string out;
    auto next = args.begin();
    size_t from = 0;
    for (size_t at = text.find("{}"); at != std::string_view::npos && next != args.end();
         at = text.find("{}", from)) {
        out.append(text, from, at - from).append(*next++);
        from = at + 2;
    }
    return out.append(text.substr(from));
}

void show_error_box(ErrorBox id, std::initializer_list<std::string_view> args) {
    const ErrorBoxRow& row = error_box_row(id);
    show_error(row.unit, row.line, error_box_text(id, args));
}

} // namespace tarvik
