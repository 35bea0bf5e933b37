find_package(Qt6 REQUIRED COMPONENTS Test)
quorvex_add_test(platform_ipc_tests MAIN core
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/TransportTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/SiblingsTest.cpp
  LIBS quorvex_ipc Qt6::Test
  LABELS unit)
