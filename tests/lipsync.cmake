# SPDX-License-Identifier: GPL-3.0-or-later
# The lip-sync tool: its parts without sound files, the program end to end, and the quality
# of its analyses on speech made at test time.
tarvik_add_test(lipsync_core_test lipsync_core_test.cpp LIBS lipsync_tool)
tarvik_add_test(lipsync_cli_test lipsync_cli_test.cpp LIBS tarvik_vlp DEPENDS lipsync)
tarvik_add_test(lipsync_quality_test lipsync_quality_test.cpp LIBS lipsync_core DEPENDS lipsync
  lipsync_corpus)
# Preloaded into lipsync by the stop-signal test.
add_library(lipsync_stall_fsync MODULE lipsync_stall_fsync.c)
set_target_properties(lipsync_stall_fsync PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_dependencies(lipsync_cli_test lipsync_stall_fsync)
target_compile_definitions(lipsync_cli_test PRIVATE STALL_FSYNC="$<TARGET_FILE:lipsync_stall_fsync>")
