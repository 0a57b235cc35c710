// The output-directory check shared by the modes that take one.
#pragma once

#include <string>

namespace tarvik {

// False (after showing the refusal box captioned with `line`) when the directory argument
// holds a double quote, as a quoted name ending in a separator does.
bool output_dir_acceptable(const std::string& dir, int line);

// The output directory named on the command line, made ready: accepted by
// output_dir_acceptable, not empty, created when missing (printing "Directory created"), and
// a directory this process can write into. False (after an error box captioned with `line`)
// when the run must end, before any file is touched.
bool prepare_output_dir(std::string& dir, int line);

} // namespace tarvik
