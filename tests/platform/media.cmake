# The media-graph services: the event queue on its own, the graph on the generated movies.
quorvex_add_test(platform_media_tests MAIN core
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/media/EventQueueTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/media/GraphTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/media/VideoWindowTest.cpp
  LIBS quorvex_media PkgConfig::X11
  LABELS gst)

# The zoom: the part shown cut from the full picture, over steps, play and resizes.
quorvex_add_test(platform_media_zoom_tests MAIN core
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/media/ZoomTest.cpp
  LIBS quorvex_media PkgConfig::X11
  LABELS gst)
