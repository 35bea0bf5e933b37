# Frame steps, memory and playing through real movie servers, on camera- and phone-like footage
# that the program makes with ffmpeg on its first run (into build/<kind>/bench-movies, or
# $QUORVEX_BENCH_FOOTAGE). Needs an X display as large as a 1080p screen:
#   xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" build/bench/bench/bench_steps
# One part: --benchmark_filter='StepAfterSeek|SixBack|AccurateSeek' (steps),
# 'ServerMemory', 'BM_Playing' (plain 'Playing' also runs the four movies playing).
add_executable(bench_steps ${CMAKE_CURRENT_SOURCE_DIR}/hosting/StepBench.cpp
                           ${CMAKE_CURRENT_SOURCE_DIR}/hosting/ServerLoadBench.cpp
                           ${PROJECT_SOURCE_DIR}/tests/support/XTestWindow.cpp)
target_include_directories(bench_steps PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_steps PRIVATE quorvex_hosting_client quorvex_engine benchmark::benchmark
                      PkgConfig::X11 quorvex_warnings)
target_compile_definitions(bench_steps PRIVATE QUORVEX_BENCH_EXE="$<TARGET_FILE:quorvex>"
                           QUORVEX_BENCH_FOOTAGE="${PROJECT_BINARY_DIR}/bench-movies")
add_dependencies(bench_steps quorvex)
