# SPDX-License-Identifier: GPL-3.0-or-later
# tarvik -json: the results of real runs against their schema and the files on disk.
tarvik_add_test(results_test results_test.cpp DEPENDS tarvik lame_enc lipsync)
target_compile_definitions(results_test PRIVATE TARVIK_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
