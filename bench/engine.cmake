# The movie graph: needs an X display (xvfb-run) and the generated movies:
#   tests/fixtures/make-movies build/bench/movies
#   xvfb-run -a build/bench/bench/bench_engine
add_executable(bench_engine ${CMAKE_CURRENT_SOURCE_DIR}/engine/MovieBench.cpp
                            ${PROJECT_SOURCE_DIR}/tests/support/XTestWindow.cpp)
target_include_directories(bench_engine PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_engine PRIVATE quorvex_engine benchmark::benchmark PkgConfig::X11
                      quorvex_warnings)
target_compile_definitions(bench_engine PRIVATE
                           QUORVEX_BENCH_MOVIES="${PROJECT_BINARY_DIR}/movies"
                           QUORVEX_BENCH_CACHE="${PROJECT_BINARY_DIR}/bench-movies")
set_target_properties(bench_engine PROPERTIES AUTOMOC OFF)
