# The start-signal detector: plain C++, no dependencies.
add_library(quorvex_start_sound STATIC ${CMAKE_CURRENT_LIST_DIR}/StartSoundDetector.cpp)
target_include_directories(quorvex_start_sound PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quorvex_start_sound PRIVATE quorvex_warnings)
set_target_properties(quorvex_start_sound PROPERTIES AUTOMOC OFF)
target_compile_options(quorvex_start_sound PRIVATE -fno-math-errno)
