# Tray icon, countdown, start-up settings dialog and the autostart entry. The
# test program points HOME and XDG_CONFIG_HOME at a folder of its own before
# any test runs, so the user's autostart folder is never touched.
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(shell_dialogs_tests ShellDialogsTestMain.cpp AutostartTest.cpp TimerDialogTest.cpp
  StartupSetupDialogTest.cpp TrayIconTest.cpp)
target_include_directories(shell_dialogs_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(shell_dialogs_tests PRIVATE quell_shell_dialogs Qt6::Test GTest::gtest)
gtest_discover_tests(shell_dialogs_tests
  PROPERTIES LABELS app ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
