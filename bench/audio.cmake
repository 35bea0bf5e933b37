# The 4096-point transforms (both implementations, with FFTW's as the yardstick) and the pitch
# shifter. FFTW is used by this benchmark only.
pkg_check_modules(FFTW3F REQUIRED IMPORTED_TARGET fftw3f)
add_executable(bench_audio ${CMAKE_CURRENT_SOURCE_DIR}/audio/DspBench.cpp)
target_link_libraries(bench_audio PRIVATE quorvex_audio_dsp benchmark::benchmark PkgConfig::FFTW3F
                      quorvex_warnings)
set_target_properties(bench_audio PROPERTIES AUTOMOC OFF)
