add_executable(bench_ipc ${CMAKE_CURRENT_SOURCE_DIR}/ipc/RoundTrip.cpp)
target_link_libraries(bench_ipc PRIVATE quorvex_hosting_client benchmark::benchmark quorvex_warnings)
target_compile_definitions(bench_ipc PRIVATE QUORVEX_BENCH_EXE="$<TARGET_FILE:quorvex>")
add_dependencies(bench_ipc quorvex)
