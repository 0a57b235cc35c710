# SPDX-License-Identifier: GPL-3.0-or-later
tarvik_add_fuzzer(wav_encode_fuzz ${CMAKE_CURRENT_LIST_DIR}/wav_encode_fuzz.cpp LIBS tarvik_encoder)
# lame_enc.so is bound by name at start-up; it is built beside the programs.
set_target_properties(wav_encode_fuzz PROPERTIES BUILD_RPATH "${CMAKE_BINARY_DIR}/bin")
add_dependencies(wav_encode_fuzz lame_enc)
