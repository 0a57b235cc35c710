# The front end's model: token parser, settings file, command line (no Qt needed).
tarvik_add_test(frontend_parser_test frontend_parser_test.cpp LIBS tarvik_gui_model)
tarvik_add_test(frontend_settings_test frontend_settings_test.cpp LIBS tarvik_gui_model)
tarvik_add_test(frontend_launch_test frontend_launch_test.cpp LIBS tarvik_gui_model)
