# The media-graph services: the event queue on its own, the graph on the generated movies.
quorvex_add_test(platform_media_tests MAIN core
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/media/EventQueueTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/media/GraphTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/media/VideoWindowTest.cpp
  LIBS quorvex_media PkgConfig::X11
  LABELS gst)
