# Recording files cut short or damaged anywhere.
quarvel_add_fuzzer(recording ${CMAKE_CURRENT_LIST_DIR}/recording_fuzz.cpp quarvel_proto)
