# The pitch shifter with both transform implementations, tested on signals without any pipeline.
quorvex_add_test(audio_dsp_tests MAIN plain
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/DspTest.cpp
  LIBS quorvex_audio_dsp
  LABELS unit)
set_target_properties(audio_dsp_tests PROPERTIES AUTOMOC OFF)
