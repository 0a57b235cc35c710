// SPDX-License-Identifier: GPL-3.0-or-later
// Hidden temporary files named after the program and the process that write them, so that
// those a killed run left behind can be told from a live run's and removed.
#pragma once

#include "platform/files.hpp"

#include <optional>
#include <string>

namespace tarvik::platform {

// The mkstemp template of a temporary file of this process of `program` ("tarvik" or
// "lipsync"): ".<program>-<pid>-XXXXXX".
std::string temporary_name(const std::string& program);

// A new, empty temporary file of this process in dir, named as temporary_name gives and
// open for reading and writing (mode 0600); the descriptor is invalid, with errno set, on
// failure.
struct TemporaryFile {
    FileDescriptor fd;
    std::string path;
};
TemporaryFile open_temporary_file(const std::string& dir, const std::string& program = "tarvik");

// The same, closed again, for a child tool to write over; its path, or nullopt with errno set.
std::optional<std::string> create_temporary_file(const std::string& dir,
                                                 const std::string& program = "tarvik");

// Removes from dir the regular files named as temporaries of tarvik or lipsync whose
// process is gone: no such process, or one running another program. Any other file, and
// any file whose process cannot be checked, stays.
void remove_stale_temporaries(const std::string& dir);

} // namespace tarvik::platform
