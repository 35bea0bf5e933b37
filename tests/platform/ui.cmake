# The window-toolkit services, on real Qt widgets under the test X server.
find_package(Qt6 REQUIRED COMPONENTS Test)
quorvex_add_test(platform_ui_tests MAIN gui
  SOURCES ui/FileDialogFilterTest.cpp ui/MessageBoxTest.cpp
  LIBS quorvex_platform_ui Qt6::Test
  LABELS ui)
