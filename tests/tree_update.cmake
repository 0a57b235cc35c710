# SPDX-License-Identifier: GPL-3.0-or-later
# -batch -recurse and -update end to end: trees of folders, the record of finished lines.
tarvik_add_test(tree_update_test tree_update_test.cpp DEPENDS tarvik lame_enc lipsync)
