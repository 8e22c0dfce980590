# The main window's status line: one update (a reading and the text) against
# taking in one Kavrix M20 depth frame.
quarvel_add_bench(bench_status ${CMAKE_CURRENT_LIST_DIR}/status_bench.cpp)
