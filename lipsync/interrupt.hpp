// SPDX-License-Identifier: GPL-3.0-or-later
// Stop signals while lipsync runs: the temporary file of the VLP being written is removed
// and the program exits with 128 + the signal number (see platform/signals.hpp).
#pragma once

namespace tarvik::lipsync {

// Installs the handlers, except for signals the caller made ignored; the program calls it
// once at start.
void install_stop_handlers();

} // namespace tarvik::lipsync
