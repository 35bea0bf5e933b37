# Making the drawn picture from a decoded one (no display needed): build/bench/bench/bench_media
add_executable(bench_media ${CMAKE_CURRENT_SOURCE_DIR}/media/PictureMakerBench.cpp)
target_include_directories(bench_media PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_media PRIVATE quorvex_media benchmark::benchmark quorvex_warnings)
set_target_properties(bench_media PROPERTIES AUTOMOC OFF)
