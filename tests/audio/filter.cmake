# The pitch-shift filter byte for byte on constructed samples (no pipeline), and its GStreamer
# element in the test harness and in real pipelines.
quorvex_add_test(audio_filter_tests MAIN plain
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PitchShiftFilterTest.cpp
  LIBS quorvex_audio_filter
  LABELS unit)
set_target_properties(audio_filter_tests PROPERTIES AUTOMOC OFF)
