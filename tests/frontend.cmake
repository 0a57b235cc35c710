# SPDX-License-Identifier: GPL-3.0-or-later
# The front end's model: token parser, settings file, command line and launch (no Qt needed).
tarvik_add_test(frontend_model_test frontend_model_test.cpp LIBS tarvik_gui_model)
