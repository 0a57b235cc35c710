# Batch conversion of a folder, end to end.
tarvik_add_test(batch_test batch_test.cpp DEPENDS tarvik lame_enc)
