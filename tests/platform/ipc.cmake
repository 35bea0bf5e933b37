quorvex_add_test(platform_ipc_tests MAIN core
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/TransportTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/SiblingsTest.cpp
  LIBS quorvex_ipc
  LABELS unit)
