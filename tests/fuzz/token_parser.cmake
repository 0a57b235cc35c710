# SPDX-License-Identifier: GPL-3.0-or-later
# The settings-file parser and the settings readers on arbitrary text.
tarvik_add_fuzzer(token_parser_fuzz ${CMAKE_CURRENT_LIST_DIR}/token_parser_fuzz.cpp LIBS tarvik_gui_model)
