// SPDX-License-Identifier: GPL-3.0-or-later
// Binding of the encoder library (lame_enc.so) by name at start-up.
#pragma once

#include "lame_enc.h"
#include "platform/dynlib.hpp"

#include <string>

namespace tarvik {

inline constexpr const char* kLameLibraryName = "lame_enc.so";

struct LameApi {
    BEINITSTREAM init_stream = nullptr;
    BEENCODECHUNK encode_chunk = nullptr;
    BEDEINITSTREAM deinit_stream = nullptr;
    BECLOSESTREAM close_stream = nullptr;
    BEVERSION version = nullptr;
    BEWRITEVBRHEADER write_vbr_header = nullptr;
};

// Loads one of the program's own modules: from program_dir, else from program_dir/../lib/tarvik,
// else by name through the system's search. Null when none loads.
platform::LibraryHandle load_private_library(const std::string& program_dir, const char* name);
// Loads the library (load_private_library) and looks up all six entry points; true only when
// all are found.
bool load_lame(const std::string& program_dir = {});
// Releases the library (registered to run at exit).
void unload_lame();
// The bound entry points; valid after a successful load_lame.
const LameApi& lame();
// The LAME block of the library information, from beVersion.
std::string lame_version_text();

} // namespace tarvik
