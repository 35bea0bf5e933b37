# "音でｽﾀｰﾄを合わせる" over sixteen 60 s movies, with real servers: needs an X display
# (xvfb-run), gst-launch-1.0 and sox (it makes its movie on the first run).
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(bench_start_sound ${CMAKE_CURRENT_SOURCE_DIR}/app/StartSoundBench.cpp)
target_link_libraries(bench_start_sound PRIVATE quorvex_app Qt6::Test benchmark::benchmark
                      quorvex_warnings)
target_compile_definitions(bench_start_sound PRIVATE QUORVEX_BENCH_EXE="$<TARGET_FILE:quorvex>"
                           QUORVEX_BENCH_MOVIES="${PROJECT_BINARY_DIR}/movies")
add_dependencies(bench_start_sound quorvex)
