// The output-directory check shared by the modes that take one.
#pragma once

#include <string>

namespace tarvik {

// False (after showing the refusal box captioned with `line`) when the directory argument
// holds a double quote, as a quoted name ending in a separator does.
bool output_dir_acceptable(const std::string& dir, int line);

} // namespace tarvik
