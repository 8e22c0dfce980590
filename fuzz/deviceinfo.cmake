# The device-information reply reader and the lens packet.
quarvel_add_fuzzer(deviceinfo_reply ${CMAKE_CURRENT_LIST_DIR}/deviceinfo_fuzz.cpp quarvel_proto)
