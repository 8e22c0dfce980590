# Port registry entries and the simulator's command framing.
quarvel_add_fuzzer(registry ${CMAKE_CURRENT_LIST_DIR}/device_fuzz.cpp quarvel_proto)
target_sources(fuzz_registry PRIVATE ${CMAKE_SOURCE_DIR}/sim/CommandFramer.cpp)
