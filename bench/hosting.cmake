# Needs an X display for the video (run it under xvfb-run) and the generated test movies:
#   tests/fixtures/make-movies build/bench/movies
#   xvfb-run -a build/bench/bench/bench_hosting
add_executable(bench_hosting ${CMAKE_CURRENT_SOURCE_DIR}/hosting/ServerCommands.cpp
                             ${PROJECT_SOURCE_DIR}/tests/support/XTestWindow.cpp)
target_include_directories(bench_hosting PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_hosting PRIVATE quorvex_hosting_client benchmark::benchmark
                      PkgConfig::X11 quorvex_warnings)
target_compile_definitions(bench_hosting PRIVATE QUORVEX_BENCH_EXE="$<TARGET_FILE:quorvex>"
                           QUORVEX_BENCH_MOVIES="${PROJECT_BINARY_DIR}/movies")
add_dependencies(bench_hosting quorvex)

# Opening movies to their first pictures, one and sixteen at a time; makes its own large
# movies on the first run: xvfb-run -a build/bench/bench/bench_open
add_executable(bench_open ${CMAKE_CURRENT_SOURCE_DIR}/hosting/OpenBench.cpp
                          ${PROJECT_SOURCE_DIR}/tests/support/XTestWindow.cpp)
target_include_directories(bench_open PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_open PRIVATE quorvex_hosting_client benchmark::benchmark
                      PkgConfig::X11 quorvex_warnings)
target_compile_definitions(bench_open PRIVATE QUORVEX_BENCH_EXE="$<TARGET_FILE:quorvex>"
                           QUORVEX_BENCH_CACHE="${PROJECT_BINARY_DIR}/bench-movies")
add_dependencies(bench_open quorvex)
