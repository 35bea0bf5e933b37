add_executable(bench_filter ${CMAKE_CURRENT_SOURCE_DIR}/filter/FilterBench.cpp)
target_link_libraries(bench_filter PRIVATE quorvex_audio_filter benchmark::benchmark quorvex_warnings)
set_target_properties(bench_filter PROPERTIES AUTOMOC OFF)
