# SPDX-License-Identifier: GPL-3.0-or-later
# Shared utilities and the command line.
tarvik_add_test(utilities_test utilities_test.cpp LIBS tarvik_common tarvik_audio_source)
tarvik_add_test(command_line_test command_line_test.cpp DEPENDS tarvik lame_enc lame_enc_partial)

# An encoder library that lacks beWriteVBRHeader: tarvik must refuse to start with it.
add_library(lame_enc_partial SHARED ${PROJECT_SOURCE_DIR}/lame_enc/lame_enc.cpp)
target_compile_definitions(lame_enc_partial PRIVATE TARVIK_OMIT_WRITE_VBR_HEADER)
set_target_properties(lame_enc_partial PROPERTIES PREFIX "" SUFFIX ".so" CXX_VISIBILITY_PRESET hidden
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_include_directories(lame_enc_partial PRIVATE ${PROJECT_SOURCE_DIR}/lame_enc ${MP3LAME_INCLUDE_DIR})
target_link_libraries(lame_enc_partial PRIVATE ${MP3LAME_LIBRARY})
