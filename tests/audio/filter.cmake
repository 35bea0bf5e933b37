# The pitch-shift filter byte for byte on constructed samples (no pipeline), and its GStreamer
# element in the test harness and as a loadable plugin.
quorvex_add_test(audio_filter_tests MAIN plain
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PitchShiftFilterTest.cpp
  LIBS quorvex_audio_filter
  LABELS unit)
set_target_properties(audio_filter_tests PROPERTIES AUTOMOC OFF)

pkg_check_modules(GSTCHECK REQUIRED IMPORTED_TARGET gstreamer-check-1.0)

quorvex_add_test(audio_element_tests MAIN plain
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PitchShiftElementTest.cpp
  LIBS quorvex_pitch_element PkgConfig::GSTCHECK
  LABELS gst)
target_compile_definitions(audio_element_tests PRIVATE
  QUORVEX_PLUGIN_DIR="$<TARGET_FILE_DIR:gstquorvexpitch>")
add_dependencies(audio_element_tests gstquorvexpitch)
set_target_properties(audio_element_tests PROPERTIES AUTOMOC OFF)
