// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/dynlib.hpp"

#include <dlfcn.h>

namespace tarvik::platform {

LibraryHandle load_library(const std::string& name) {
    return ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

std::string library_error() {
    const char* why = ::dlerror();
    return why ? why : "";
}

void* find_symbol(LibraryHandle lib, const char* name) {
    return lib ? ::dlsym(lib, name) : nullptr;
}

bool free_library(LibraryHandle lib) {
    return lib && ::dlclose(lib) == 0;
}

} // namespace tarvik::platform
