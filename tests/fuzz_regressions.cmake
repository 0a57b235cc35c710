# Inputs on which the fuzz targets found faults, replayed in every build.
tarvik_add_test(fuzz_regressions_test fuzz_regressions_test.cpp LIBS tarvik_encoder DEPENDS tarvik lame_enc)
