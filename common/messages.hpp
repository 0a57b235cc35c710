// SPDX-License-Identifier: GPL-3.0-or-later
// The console program's error box.
#pragma once

#include "common/version.hpp"

#include <string>

namespace tarvik {

inline constexpr const char* kProgramCaption = "tarvik " TARVIK_VERSION;

// Shows "************ ERROR ************\n<message>\n" in an error box captioned
// "tarvik <version> - [called from \"<unit>\", line <line>]" and returns when it is closed.
// The message is shown as given: it is never used as a format.
void show_error(const char* unit, int line, const std::string& message);

// The information box of the console program (help, library versions, batch summary).
void show_info(const std::string& text);

} // namespace tarvik
