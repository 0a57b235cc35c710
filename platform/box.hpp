// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes. The console form prints the caption and the text; error boxes go to
// standard error, the others to standard output. A desktop form is used when the
// environment asks for one (see box.cpp).
#pragma once

#include <string>

namespace tarvik::platform {

enum class BoxIcon { Error, Information, Warning, Question };

// Environment variable: when "1" and standard input is a terminal, a box waits for Enter.
inline constexpr const char* kBoxWaitEnv = "TARVIK_BOX_WAIT";
// Environment variable: path of a program that shows a desktop box when started as
// "<program> --message-box <icon> <caption> <text>"; the console form is then skipped.
inline constexpr const char* kBoxProgramEnv = "TARVIK_BOX_PROGRAM";

void show_box(BoxIcon icon, const std::string& caption, const std::string& text);

// Replaces how boxes are shown (nullptr restores the default): for programs that embed the
// console code, such as fuzz targets, which must not print a box per input.
using BoxHandler = void (*)(BoxIcon icon, const std::string& caption, const std::string& text);
void set_box_handler(BoxHandler handler);

} // namespace tarvik::platform
