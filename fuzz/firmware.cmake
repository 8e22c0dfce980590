# The bootloader's replies as read from the port, and firmware images as read from disk.
quarvel_add_fuzzer(bootloader_replies ${CMAKE_CURRENT_LIST_DIR}/firmware_replies_fuzz.cpp quarvel_proto)
quarvel_add_fuzzer(firmware_image ${CMAKE_CURRENT_LIST_DIR}/firmware_image_fuzz.cpp quarvel_proto)
