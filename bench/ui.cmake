# The user interface with real server processes: needs an X display (xvfb-run) and the
# generated movies (tests/fixtures/make-movies build/bench/movies).
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(bench_ui ${CMAKE_CURRENT_SOURCE_DIR}/ui/UiBench.cpp)
target_link_libraries(bench_ui PRIVATE quorvex_app Qt6::Test benchmark::benchmark
                      quorvex_warnings)
target_compile_definitions(bench_ui PRIVATE QUORVEX_BENCH_EXE="$<TARGET_FILE:quorvex>"
                           QUORVEX_BENCH_MOVIES="${PROJECT_BINARY_DIR}/movies")
add_dependencies(bench_ui quorvex)
