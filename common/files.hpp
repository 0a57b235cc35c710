// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik's file operations: the platform's atomic writer with its failures in tarvik's
// words, and file facts in the form the encoder asks for them.
#pragma once

#include "platform/atomic_file.hpp"
#include "platform/files.hpp"

#include <optional>
#include <string>

namespace tarvik {

// The platform writer (see platform/atomic_file.hpp) for tarvik's temporaries.
class AtomicFile : public platform::AtomicFile {
  public:
    explicit AtomicFile(std::string destination) : platform::AtomicFile(std::move(destination)) {}
    // Which step failed and why, as tarvik prints it; "" when none did, or when the place
    // step refused without an error.
    std::string error() const;
};

using platform::place_file;
using platform::same_file;

// The reason a file operation failed, from errno: "file too large" for a file grown past the
// size limit (ulimit -f), else the system's text.
inline std::string errno_text(int error) {
    return platform::error_text(error);
}

// Size of a regular file that this process can open for reading; nullopt for anything else
// (missing, unreadable, a directory, a FIFO or device, which could block or never end).
std::optional<long long> readable_file_size(const std::string& path);

// Size of a file in bytes, or -1 when it cannot be read.
long long file_size_of(const std::string& path);

} // namespace tarvik
