# The pitch shifter and its 4096-point transform: plain C++, no dependencies.
add_library(quorvex_audio_dsp STATIC
  ${CMAKE_CURRENT_LIST_DIR}/FFTTables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FFT_C.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CPitchShift.cpp
)
# The vector transform exists only where the SSE intrinsics do.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86)$")
  target_sources(quorvex_audio_dsp PRIVATE ${CMAKE_CURRENT_LIST_DIR}/FFT_SSE.cpp)
endif()
target_include_directories(quorvex_audio_dsp PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quorvex_audio_dsp PRIVATE quorvex_warnings)
set_target_properties(quorvex_audio_dsp PROPERTIES AUTOMOC OFF)
# errno is never read here; without it the square roots compile to a single instruction.
target_compile_options(quorvex_audio_dsp PRIVATE -fno-math-errno)
# The phase vocoder must keep up with a 50 ms device buffer in real time, also in the checked
# debug build that the sound tests record: unoptimised, one 4096-frame block took close to
# that, and the sound dropped out now and then. Optimised, the checks stay.
target_compile_options(quorvex_audio_dsp PRIVATE $<$<CONFIG:Debug>:-O2>)
