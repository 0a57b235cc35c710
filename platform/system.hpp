// Process facts: the executable's own path and the working directory.
#pragma once

#include <string>

namespace tarvik::platform {

// Full path of the running executable (from /proc/self/exe); empty when unknown.
std::string executable_path();

// The working directory; empty when it cannot be read.
std::string current_directory();

// True when the directory exists and this process may create files in it.
bool directory_writable(const std::string& dir);

// The system's temporary directory ($TMPDIR or /tmp), without a trailing '/'.
std::string temp_directory();

} // namespace tarvik::platform
