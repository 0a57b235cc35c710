# SPDX-License-Identifier: GPL-3.0-or-later
# Arbitrary argument vectors through tarvik's command-line reader and run-mode choice.
tarvik_add_fuzzer(command_line_fuzz ${CMAKE_CURRENT_LIST_DIR}/command_line_fuzz.cpp LIBS tarvik_encoder)
