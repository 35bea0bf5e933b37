# The pitch-shift filter (plain C++ over a small media-sample interface), its GStreamer element
# for the program, and the same element as a loadable plugin for gst-launch-1.0.
add_library(quorvex_audio_filter STATIC
  ${CMAKE_CURRENT_LIST_DIR}/MediaSample.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CPitchShiftFilter.cpp
)
target_include_directories(quorvex_audio_filter PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(quorvex_audio_filter PUBLIC quorvex_audio_dsp PRIVATE quorvex_warnings)

add_library(quorvex_pitch_element STATIC ${CMAKE_CURRENT_LIST_DIR}/gst/PitchShiftElement.cpp)
target_link_libraries(quorvex_pitch_element PUBLIC quorvex_audio_filter PkgConfig::GST
                      PRIVATE quorvex_warnings)

add_library(gstquorvexpitch MODULE ${CMAKE_CURRENT_LIST_DIR}/gst/PitchShiftPlugin.cpp)
target_link_libraries(gstquorvexpitch PRIVATE quorvex_pitch_element quorvex_warnings)

# The plugin is a shared object, so everything linked into it must be position independent.
set_target_properties(quorvex_audio_dsp quorvex_audio_filter quorvex_pitch_element gstquorvexpitch
                      PROPERTIES POSITION_INDEPENDENT_CODE ON AUTOMOC OFF)
