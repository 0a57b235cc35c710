# The front end's dialog and start-up (QtTest, offscreen), and the end-to-end launch of the
# real encoder from the dialog.
if(TARVIK_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

  add_executable(frontend_dialog_test frontend_dialog_test.cpp frontend_qt_support.hpp)
  set_target_properties(frontend_dialog_test PROPERTIES AUTOMOC ON
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  target_link_libraries(frontend_dialog_test PRIVATE tarvik_gui_qt tarvik_test_support Qt6::Test)
  add_test(NAME frontend_dialog_test COMMAND frontend_dialog_test)
  set_tests_properties(frontend_dialog_test PROPERTIES TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TARVIK_BOX_PROGRAM=")
endif()

# Needs the encoder's batch mode: it fails until `tarvik -batch` converts folders.
if(TARVIK_GUI)
  add_executable(frontend_box_recorder frontend_box_recorder.cpp)
  set_target_properties(frontend_box_recorder PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

  add_executable(frontend_e2e_test frontend_e2e_test.cpp frontend_qt_support.hpp)
  set_target_properties(frontend_e2e_test PROPERTIES AUTOMOC ON
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  target_link_libraries(frontend_e2e_test PRIVATE tarvik_gui_qt tarvik_test_support Qt6::Test)
  target_compile_definitions(frontend_e2e_test PRIVATE
    TARVIK_TEST_BOX_RECORDER="$<TARGET_FILE:frontend_box_recorder>")
  add_dependencies(frontend_e2e_test frontend_box_recorder tarvik lame_enc)
  add_test(NAME frontend_e2e_test COMMAND frontend_e2e_test)
  set_tests_properties(frontend_e2e_test PROPERTIES TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TARVIK_BOX_PROGRAM=")
endif()
