# The lip-sync tool: analysis and cue building, the VLP format and its text forms, the
# program end to end, and the quality of its speech/rest decisions on synthesised speech.
tarvik_add_test(lipsync_analysis_test lipsync_analysis_test.cpp LIBS lipsync_core)
tarvik_add_test(lipsync_format_test lipsync_format_test.cpp LIBS lipsync_core)
tarvik_add_test(lipsync_cli_test lipsync_cli_test.cpp LIBS lipsync_tool DEPENDS lipsync)
tarvik_add_test(lipsync_quality_test lipsync_quality_test.cpp LIBS lipsync_tool DEPENDS lipsync)
add_library(lipsync_stall_fsync MODULE lipsync_stall_fsync.c)
set_target_properties(lipsync_stall_fsync PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_dependencies(lipsync_cli_test lipsync_stall_fsync)
target_compile_definitions(lipsync_cli_test PRIVATE
  STALL_FSYNC="$<TARGET_FILE:lipsync_stall_fsync>")
