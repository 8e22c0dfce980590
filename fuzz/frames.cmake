# The frame stream: the framer against a direct reading of the framing rule,
# and the depth filter on the frames it cuts.
quarvel_add_fuzzer(frames ${CMAKE_CURRENT_LIST_DIR}/frames_fuzz.cpp quarvel_proto)
