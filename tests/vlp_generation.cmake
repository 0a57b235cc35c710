# tarvik -lips: starting the lip-sync tool and placing its VLP, with stand-in tools.
tarvik_add_test(vlp_generation_test vlp_generation_test.cpp DEPENDS tarvik lame_enc lipsync)
