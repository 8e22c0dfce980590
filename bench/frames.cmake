# Frame pipeline: Kavrix M20 ingest (deframe + decode + colour) against memcpy
# and per-pixel QColor colouring, and the depth filter per mode.
quarvel_add_bench(bench_frames ${CMAKE_CURRENT_LIST_DIR}/frames_bench.cpp)

# The live view end to end against the simulated camera; run bench/frames_e2e.sh.
if(TARGET quarvel_testsupport)
    add_executable(bench_frames_e2e ${CMAKE_CURRENT_LIST_DIR}/frames_e2e.cpp)
    target_link_libraries(bench_frames_e2e PRIVATE quarvel_testsupport)
    add_dependencies(bench_frames_e2e kavrix-sim)

    # The memory soak: a long hostile stream with logging and a replug.
    add_executable(bench_soak ${CMAKE_CURRENT_LIST_DIR}/soak.cpp)
    target_link_libraries(bench_soak PRIVATE quarvel_testsupport)
    add_dependencies(bench_soak kavrix-sim)
endif()
