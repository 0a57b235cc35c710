// SPDX-License-Identifier: GPL-3.0-or-later
// Loading a shared library by name and looking up its entry points.
#pragma once

#include <string>

namespace tarvik::platform {

using LibraryHandle = void*;

// Loads the library by name through the system's normal search (which includes the
// executable's run path). Null on failure.
LibraryHandle load_library(const std::string& name);
// Why the last load_library or find_symbol failed, as the system says it ("" if unknown).
std::string library_error();
void* find_symbol(LibraryHandle lib, const char* name);
bool free_library(LibraryHandle lib);

} // namespace tarvik::platform
