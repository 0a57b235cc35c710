// Batch conversion of every WAV of a folder.
#pragma once

#include "encoder/run_state.hpp"

#include <string>

namespace tarvik {

// Converts every *.wav of input_dir into output_dir. Returns 0 when every file was
// converted, 1 when some failed, 255 when nothing could be done.
int run_batch(Context& ctx, const std::string& input_dir, const std::string& output_dir);

} // namespace tarvik
