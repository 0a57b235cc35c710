// SPDX-License-Identifier: GPL-3.0-or-later
// The output directory a run is given on the command line.
#pragma once

#include <string>

namespace tarvik {

enum class OutputDir {
    Ready,       // a directory that can be written into
    Quoted,      // holds a double quote, as a quoted name ending in a separator does
    Empty,       // an empty name
    NotWritable, // not a directory this process can write into
};

// Quoted, or Ready: the check made before anything else is touched.
OutputDir output_dir_acceptable(const std::string& dir);

struct PreparedDir {
    OutputDir state = OutputDir::Ready;
    bool created = false; // directories were made, whatever the state
};

// The directory made ready: accepted by output_dir_acceptable, not empty, created when
// missing (one trailing '/' is removed from dir), and a directory this process can write
// into. Anything but Ready ends the run before any file is touched.
PreparedDir prepare_output_dir(std::string& dir);

} // namespace tarvik
