# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, built and unpacked into a temporary folder, runs from there.
add_test(NAME install_package_test COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install_package_test.sh
         ${CMAKE_BINARY_DIR} $<TARGET_FILE:lame_enc_partial>)
set_tests_properties(install_package_test PROPERTIES TIMEOUT 300)
# Sanitizer runtimes record the paths of generated sources; only a plain build is packaged.
if(TARVIK_SANITIZE OR TARVIK_TSAN)
  set_tests_properties(install_package_test PROPERTIES ENVIRONMENT "TARVIK_SANITIZER_BUILD=1")
endif()
