# The pitch-shift filter byte for byte on constructed samples (no pipeline), and its GStreamer
# element in the test harness and as a plugin from gst-launch-1.0.
quorvex_add_test(audio_filter_tests MAIN plain
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PitchShiftFilterTest.cpp
  LIBS quorvex_audio_filter
  LABELS unit)
set_target_properties(audio_filter_tests PROPERTIES AUTOMOC OFF)

pkg_check_modules(GSTCHECK REQUIRED IMPORTED_TARGET gstreamer-check-1.0)

# gst-launch-1.0 is not instrumented: a sanitized plugin needs the runtimes preloaded.
set(quorvex_sanitizer_preload "")
if(QUORVEX_SANITIZE)
  foreach(runtime libasan.so libubsan.so)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    list(APPEND quorvex_sanitizer_preload ${path})
  endforeach()
  list(JOIN quorvex_sanitizer_preload ":" quorvex_sanitizer_preload)
endif()

quorvex_add_test(audio_element_tests MAIN plain
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PitchShiftElementTest.cpp
  LIBS quorvex_pitch_element PkgConfig::GSTCHECK
  LABELS gst)
target_compile_definitions(audio_element_tests PRIVATE
  QUORVEX_PLUGIN_DIR="$<TARGET_FILE_DIR:gstquorvexpitch>"
  QUORVEX_SANITIZER_PRELOAD="${quorvex_sanitizer_preload}")
add_dependencies(audio_element_tests gstquorvexpitch)
set_target_properties(audio_element_tests PROPERTIES AUTOMOC OFF)
