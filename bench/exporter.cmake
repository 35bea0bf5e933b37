# The export role on four camera-like 1080p60 movies, run as the program runs it.
add_executable(bench_exporter ${CMAKE_CURRENT_SOURCE_DIR}/exporter/ExportBench.cpp)
target_compile_definitions(bench_exporter PRIVATE QUORVEX_BENCH_EXE="$<TARGET_FILE:quorvex>")
target_link_libraries(bench_exporter PRIVATE PkgConfig::GST benchmark::benchmark quorvex_warnings)
add_dependencies(bench_exporter quorvex)
