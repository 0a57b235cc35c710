# SPDX-License-Identifier: GPL-3.0-or-later
# WAV to MP3: fitting, encoding, silence and single-file runs, end to end.
tarvik_add_test(encoding_test encoding_test.cpp DEPENDS tarvik lame_enc)
