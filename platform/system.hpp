// SPDX-License-Identifier: GPL-3.0-or-later
// Process facts: the executable's own path, the working directory and the cores it may use.
#pragma once

#include <string>

namespace tarvik::platform {

// Full path of the running executable (from /proc/self/exe); empty when unknown.
std::string executable_path();

// The working directory; empty when it cannot be read.
std::string current_directory();

// True when the directory exists and this process may create files in it.
bool directory_writable(const std::string& dir);

// True when `dir` is a system folder, one a program must not write beside itself in: it lies
// under /usr, or this process's user does not own it (an unreadable folder counts as one).
bool is_system_folder(const std::string& dir);

// The processors this process may run on (its CPU affinity, else the machine's count);
// 0 when unknown.
int usable_cores();

// The system's temporary directory ($TMPDIR or /tmp), without a trailing '/'.
std::string temp_directory();

} // namespace tarvik::platform
