# quarvel-cli record and capture end to end against the simulated camera.
if(TARGET quarvel_testsupport AND TARGET quarvel-cli)
    add_executable(bench_cli_e2e ${CMAKE_CURRENT_LIST_DIR}/cli_e2e.cpp)
    target_link_libraries(bench_cli_e2e PRIVATE quarvel_testsupport)
    add_dependencies(bench_cli_e2e kavrix-sim quarvel-cli)
endif()
