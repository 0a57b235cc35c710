// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/binding.hpp"

#include "common/text.hpp"
#include "encoder/error_boxes.hpp"
#include "platform/dynlib.hpp"

#include <cstring>

namespace tarvik {

namespace {
// The binding table: written once by load_lame, read-only afterwards.
platform::LibraryHandle library = nullptr;
LameApi api;

template <typename Fn> Fn lookup(const char* name) {
    return reinterpret_cast<Fn>(platform::find_symbol(library, name));
}
} // namespace

platform::LibraryHandle load_private_library(const std::string& program_dir, const char* name) {
    // Beside the executable (the build tree; named explicitly because a sanitizer runtime that
    // intercepts the loading does not see the executable's run path), then the installed
    // tree's private folder beside bin/ (where the install rules put it), then the usual search.
    if (!program_dir.empty()) {
        for (const char* folder : {"/", "/../lib/tarvik/"})
            if (auto lib = platform::load_library(program_dir + folder + name)) return lib;
    }
    return platform::load_library(name);
}

bool load_lame(const std::string& program_dir) {
    library = load_private_library(program_dir, kLameLibraryName);
    if (!library) return false;
    api.init_stream = lookup<BEINITSTREAM>("beInitStream");
    api.encode_chunk = lookup<BEENCODECHUNK>("beEncodeChunk");
    api.deinit_stream = lookup<BEDEINITSTREAM>("beDeinitStream");
    api.close_stream = lookup<BECLOSESTREAM>("beCloseStream");
    api.version = lookup<BEVERSION>("beVersion");
    api.write_vbr_header = lookup<BEWRITEVBRHEADER>("beWriteVBRHeader");
    return api.init_stream && api.encode_chunk && api.deinit_stream && api.close_stream &&
           api.version && api.write_vbr_header;
}

void unload_lame() {
    if (!library) return;
    if (platform::free_library(library))
        library = nullptr;
    else
        show_error_box<ErrorBox::LameNotUnloaded>(kLameLibraryName);
}

const LameApi& lame() {
    return api;
}

std::string lame_version_text() {
    BE_VERSION v;
    std::memset(&v, 0, sizeof v);
    api.version(&v);
    v.zHomepage[sizeof v.zHomepage - 1] = '\0';
    return format_text("\n---- LAME Ain't an MP3 Encoder ----\n| DLL version:            %u.%02u\n"
                       "| Engine version:       %u.%02u\n| Home page: %s\n",
                       unsigned{v.byDLLMajorVersion}, unsigned{v.byDLLMinorVersion},
                       unsigned{v.byMajorVersion}, unsigned{v.byMinorVersion}, v.zHomepage);
}

} // namespace tarvik
