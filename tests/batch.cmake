# SPDX-License-Identifier: GPL-3.0-or-later
# Batch conversion and -lips, end to end; the same results whatever the number of jobs.
tarvik_add_test(batch_test batch_test.cpp DEPENDS tarvik lame_enc lipsync)
