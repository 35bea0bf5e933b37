# Frame steps and playback through real movie servers, on camera-like footage that the program
# makes itself on its first run (into build/bench/bench-movies). Needs an X display:
#   xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/bench/bench_steps
add_executable(bench_steps ${CMAKE_CURRENT_SOURCE_DIR}/hosting/StepBench.cpp
                           ${PROJECT_SOURCE_DIR}/tests/support/XTestWindow.cpp)
target_include_directories(bench_steps PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_steps PRIVATE quorvex_hosting_client quorvex_engine benchmark::benchmark
                      PkgConfig::X11 quorvex_warnings)
target_compile_definitions(bench_steps PRIVATE QUORVEX_BENCH_EXE="$<TARGET_FILE:quorvex>"
                           QUORVEX_BENCH_FOOTAGE="${PROJECT_BINARY_DIR}/bench-movies")
add_dependencies(bench_steps quorvex)
