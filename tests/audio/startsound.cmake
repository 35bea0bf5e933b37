# The start-signal detector on synthetic sound, without any pipeline.
quorvex_add_test(audio_start_sound_tests MAIN plain
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/StartSoundDetectorTest.cpp
  LIBS quorvex_start_sound
  LABELS unit)
set_target_properties(audio_start_sound_tests PROPERTIES AUTOMOC OFF)
