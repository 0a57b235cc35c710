# SPDX-License-Identifier: GPL-3.0-or-later
# The dialog and start-up (QtTest, offscreen), and the real tarvik-gui under Xvfb.
if(TARVIK_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
  add_executable(frontend_dialog_test frontend_dialog_test.cpp)
  set_target_properties(frontend_dialog_test PROPERTIES AUTOMOC ON
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  target_link_libraries(frontend_dialog_test PRIVATE tarvik_gui_qt tarvik_test_support Qt6::Test)
  # The real program's start is run too, and a silent run of the real encoder.
  add_dependencies(frontend_dialog_test tarvik-gui tarvik lame_enc)
  add_test(NAME frontend_dialog_test COMMAND frontend_dialog_test)
  set_tests_properties(frontend_dialog_test PROPERTIES TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TARVIK_BOX_PROGRAM=")
  tarvik_add_test(frontend_e2e_test frontend_e2e_test.cpp DEPENDS tarvik-gui tarvik lame_enc)
endif()
