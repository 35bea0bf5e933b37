add_executable(bench_laps ${CMAKE_CURRENT_SOURCE_DIR}/laps/LapFileBench.cpp)
target_link_libraries(bench_laps PRIVATE quorvex_laps benchmark::benchmark quorvex_warnings)
