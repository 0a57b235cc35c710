# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian packages, built twice from the sources by scripts/package.sh and run from an
# unpacked tree; the plain release build runs it, not the sanitizer builds.
if(NOT TARVIK_SANITIZE AND NOT TARVIK_TSAN)
  add_test(NAME package_test COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/package_test.sh
           ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR} $<TARGET_FILE:lame_enc_partial>)
  set_tests_properties(package_test PROPERTIES TIMEOUT 1800)
endif()
