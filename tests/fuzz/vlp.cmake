# SPDX-License-Identifier: GPL-3.0-or-later
# Arbitrary bytes through the VLP reader; what it accepts goes through the writer and the
# text forms too.
tarvik_add_fuzzer(vlp_reader_fuzz ${CMAKE_CURRENT_LIST_DIR}/vlp_reader_fuzz.cpp LIBS lipsync_core)
