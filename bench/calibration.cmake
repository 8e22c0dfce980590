# DRNU calibration for a "Kavrix M20": writing the three calibration files
# against flush-per-line writing, the arithmetic that finishes a sweep, and the
# LUT packets with their CRC.
quarvel_add_bench(bench_calibration ${CMAKE_CURRENT_LIST_DIR}/calibration_bench.cpp)
