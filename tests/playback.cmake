# SPDX-License-Identifier: GPL-3.0-or-later
# Playback: tarvik -play end to end on SDL's disk driver; the
# keys in a real terminal (tmux, through a harness).
tarvik_add_test(playback_run_test playback_run_test.cpp DEPENDS tarvik)
tarvik_add_test(playback_keys_test playback_keys_test.cpp DEPENDS tarvik playback_tty_harness)
add_executable(playback_tty_harness playback_tty_harness.cpp)
set_target_properties(playback_tty_harness PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
