# SPDX-License-Identifier: GPL-3.0-or-later
# Output folders on case-insensitive file systems, end to end on a case-folding FUSE mount.
pkg_check_modules(FUSE3 REQUIRED IMPORTED_TARGET fuse3)
pkg_check_modules(UTF8PROC REQUIRED IMPORTED_TARGET libutf8proc)
add_executable(casefold_fs support/casefold_fs.c)
target_link_libraries(casefold_fs PRIVATE PkgConfig::FUSE3 PkgConfig::UTF8PROC)
set_target_properties(casefold_fs PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
tarvik_add_test(casefold_test casefold_test.cpp DEPENDS tarvik lame_enc casefold_fs)
