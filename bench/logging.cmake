# Logging one "Kavrix M20" depth frame: the frame logger against flush-per-line writing.
quarvel_add_bench(bench_logging ${CMAKE_CURRENT_LIST_DIR}/logging_bench.cpp)
