# The point cloud part needs an OpenGL display: run under xvfb-run.
quarvel_add_bench(bench_views ${CMAKE_CURRENT_LIST_DIR}/views_bench.cpp)
