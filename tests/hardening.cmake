# SPDX-License-Identifier: GPL-3.0-or-later
# Bad input of every kind and faults (full disk, signals, killed batch, broken tools, no
# threads): no crash, no hang, no partial output, no lost WAV, no failure shown as success.
tarvik_add_test(bad_input_test bad_input_test.cpp DEPENDS tarvik lame_enc lipsync)
tarvik_add_test(fault_test fault_test.cpp DEPENDS tarvik lame_enc lipsync)
# Preloaded into tarvik: a process that may not start threads.
add_library(no_threads MODULE support/no_threads.c)
set_target_properties(no_threads PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_dependencies(fault_test no_threads)
target_compile_definitions(fault_test PRIVATE NO_THREADS_LIBRARY="$<TARGET_FILE:no_threads>")
tarvik_add_test(adapter_threads_test adapter_threads_test.cpp LIBS lame_enc DEPENDS lame_enc)
