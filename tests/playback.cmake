# Playback: the audio facility, the status line and keys, and tarvik -play end to end.
tarvik_add_test(playback_unit_test playback_unit_test.cpp LIBS tarvik_encoder)
tarvik_add_test(playback_audio_test playback_audio_test.cpp LIBS tarvik_audio)
tarvik_add_test(playback_run_test playback_run_test.cpp LIBS tarvik_audio DEPENDS tarvik)
tarvik_add_test(playback_keys_test playback_keys_test.cpp DEPENDS tarvik playback_tty_harness)

# Runs tarvik inside tmux for the key tests and reports how it ended.
add_executable(playback_tty_harness playback_tty_harness.cpp)
set_target_properties(playback_tty_harness PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
