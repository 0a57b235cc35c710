# Parallel batch: the same results whatever the number of jobs; encoder streams on many threads.
tarvik_add_test(parallel_batch_test parallel_batch_test.cpp DEPENDS tarvik lame_enc lipsync)
tarvik_add_test(adapter_threads_test adapter_threads_test.cpp LIBS lame_enc DEPENDS lame_enc)
