// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace tarvik {
// The whole console program: start-up, command line, one run mode. Returns the exit status.
int run_tarvik(int argc, char** argv);
} // namespace tarvik
