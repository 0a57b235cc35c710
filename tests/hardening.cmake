# Bad input of every kind and faults (full disk, killed batch, broken tools): no crash, no
# hang, no partial output, no lost WAV.
tarvik_add_test(bad_input_test bad_input_test.cpp DEPENDS tarvik lame_enc lipsync)
tarvik_add_test(fault_test fault_test.cpp DEPENDS tarvik lame_enc lipsync)
