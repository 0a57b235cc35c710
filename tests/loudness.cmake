# SPDX-License-Identifier: GPL-3.0-or-later
# -loudness: measurement and normalisation, judged by ffmpeg's EBU R 128 meter.
tarvik_add_test(loudness_test loudness_test.cpp DEPENDS tarvik lame_enc)
