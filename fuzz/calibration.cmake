# The calibration stream: the frame reader under any chunking, feeding the sweep
# arithmetic; and the acknowledgement detection of the epc660 LUT transfer.
quarvel_add_fuzzer(calibration_frames ${CMAKE_CURRENT_LIST_DIR}/calibration_frames_fuzz.cpp quarvel_proto)
quarvel_add_fuzzer(calibration_ack ${CMAKE_CURRENT_LIST_DIR}/calibration_ack_fuzz.cpp quarvel_proto)
